// A client of the client library for the end-to-end tests, run as the agent's user (or as
// another user on purpose). Usage: brivane-e2e-client <endpoint> <scenario>. Prints what it
// saw and exits 0 when the scenario held.

#include "formats/document_codec.h"
#include "ipc/frame_codec.h"
#include "ipc/sensor_client.h"
#include "platform/endpoint.h"

#include <iostream>
#include <map>
#include <string>

namespace {

using brivane::ipc::Selector;
using brivane::ipc::SensorClient;

constexpr int limitMs = 20000;

bool fail(const std::string& why) {
    std::cout << "FAIL " << why << "\n";
    return false;
}

// Does the reply carry the document its request asked for?
bool matches(Selector selector, const std::optional<std::string>& argument,
             const std::optional<std::string>& document) {
    using namespace brivane;
    switch (selector) {
    case Selector::snapshot:
        return document && decodeSensorSnapshot(*document).has_value();
    case Selector::cpuDetails:
        return document && decodeCPUDetailsSnapshot(*document).has_value();
    case Selector::processDetails:
        return document && decodeProcessDetailsSnapshot(*document).has_value();
    case Selector::storageHealth:
        return argument == "disk0" ? document && decodeStorageHealthSnapshot(*document)
                                   : !document.has_value();
    case Selector::manage:
        return !document.has_value();
    }
    return false;
}

// All five requests on one connection before any reply is read; every id must be answered
// exactly once with the document of its own request, whatever the order of completion.
bool pipeline(const std::string& endpoint) {
    std::string problem;
    auto client = SensorClient::connect(endpoint, problem);
    if (!client) {
        return fail("connect: " + problem);
    }
    struct Sent {
        Selector selector;
        std::optional<std::string> argument;
    };
    const std::vector<Sent> requests = {
        {Selector::processDetails, "energy"}, {Selector::snapshot, std::nullopt},
        {Selector::cpuDetails, std::nullopt}, {Selector::storageHealth, "disk0"},
        {Selector::manage, "check"},          {Selector::processDetails, "memory"},
        {Selector::storageHealth, "disk0s"},  {Selector::snapshot, std::nullopt},
    };
    std::map<std::uint32_t, Sent> pending;
    for (const auto& request : requests) {
        const auto id = client->send(request.selector, request.argument);
        if (!id) {
            return fail("send");
        }
        pending.emplace(*id, request);
    }
    std::cout << "order:";
    while (!pending.empty()) {
        const auto outcome = client->receive(limitMs);
        if (outcome.status != SensorClient::Status::replied) {
            return fail("a request went unanswered");
        }
        const auto found = pending.find(outcome.reply.id);
        if (found == pending.end()) {
            return fail("reply to an unknown or already answered id");
        }
        if (!matches(found->second.selector, found->second.argument, outcome.reply.document)) {
            return fail("reply " + std::to_string(outcome.reply.id) + " does not fit its request");
        }
        std::cout << ' ' << outcome.reply.id;
        pending.erase(found);
    }
    std::cout << "\n";
    return true;
}

// A malformed frame ends its own connection only.
bool malformed(const std::string& endpoint) {
    std::string problem;
    auto good = SensorClient::connect(endpoint, problem);
    if (!good || good->call(Selector::snapshot, std::nullopt, limitMs).status !=
                     SensorClient::Status::replied) {
        return fail("first connection: " + problem);
    }
    auto endpoints = brivane::platform::makeDefaultEndpoints();
    auto bad = endpoints->connect(endpoint, problem, limitMs);
    if (!bad) {
        return fail("second connection: " + problem);
    }
    // Length 7: id 1, a selector length of 200 that the body does not hold.
    const std::string frame("\0\0\0\x07\0\0\0\x01\xc8xy", 11);
    if (!bad->waitWritable(limitMs) ||
        bad->write(frame.data(), frame.size()).status != brivane::platform::IoStatus::ok) {
        return fail("write");
    }
    char buffer[64];
    for (;;) {
        if (!bad->waitReadable(limitMs)) {
            return fail("the malformed connection stayed open");
        }
        const auto result = bad->read(buffer, sizeof buffer);
        if (result.status == brivane::platform::IoStatus::closed) {
            break;
        }
        if (result.status == brivane::platform::IoStatus::ok) {
            return fail("the malformed connection got an answer");
        }
    }
    if (good->call(Selector::cpuDetails, std::nullopt, limitMs).status !=
        SensorClient::Status::replied) {
        return fail("the other connection was disturbed");
    }
    return true;
}

// A peer the agent does not admit is closed without a reply.
bool refused(const std::string& endpoint) {
    std::string problem;
    auto client = SensorClient::connect(endpoint, problem);
    if (!client) {
        return true;
    }
    const auto outcome = client->call(Selector::snapshot, std::nullopt, limitMs);
    if (outcome.status != SensorClient::Status::disconnected) {
        return fail("a peer of another user was answered");
    }
    return true;
}

bool snapshot(const std::string& endpoint) {
    std::string problem;
    auto client = SensorClient::connect(endpoint, problem);
    if (!client) {
        return fail("connect: " + problem);
    }
    const auto outcome = client->call(Selector::snapshot, std::nullopt, limitMs);
    if (outcome.status != SensorClient::Status::replied || !outcome.reply.document) {
        return fail("no snapshot");
    }
    std::cout << *outcome.reply.document << "\n";
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: brivane-e2e-client <endpoint> pipeline|malformed|refused|snapshot\n";
        return 2;
    }
    const std::string endpoint = argv[1];
    const std::string scenario = argv[2];
    bool held = false;
    if (scenario == "pipeline") {
        held = pipeline(endpoint);
    } else if (scenario == "malformed") {
        held = malformed(endpoint);
    } else if (scenario == "refused") {
        held = refused(endpoint);
    } else if (scenario == "snapshot") {
        held = snapshot(endpoint);
    } else {
        return 2;
    }
    return held ? 0 : 1;
}
