// Round trips through the listener against the bare socket, and the frame codec on its own.

#include "base/serial_queue.h"
#include "echo_server.h"
#include "ipc/listener.h"
#include "ipc/sensor_client.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace {

using brivane::ipc::Selector;

const std::string document(2048, ' ');

// Answers every request with the same document, at once or from a serial queue as the
// service does.
class EchoService final : public brivane::ipc::BrivaneSensorSnapshotXPC {
public:
    explicit EchoService(bool hop) : hop_(hop) {}
    void snapshotWithReply(Reply reply) override { answer(std::move(reply)); }
    void cpuDetailsWithReply(Reply reply) override { answer(std::move(reply)); }
    void processDetails(std::string, Reply reply) override { answer(std::move(reply)); }
    void storageHealth(std::string, Reply reply) override { answer(std::move(reply)); }
    void manage(std::string, Reply reply) override { answer(std::move(reply)); }

private:
    void answer(Reply reply) {
        if (!hop_) {
            reply(document);
            return;
        }
        queue_.async([reply = std::move(reply)] { reply(document); });
    }
    bool hop_;
    brivane::base::SerialQueue queue_{"bench.echo.Readings"};
};

std::string temporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ipc-bench-XXXXXX").string();
    return ::mkdtemp(pattern.data()) ? pattern : std::string();
}

void roundTrips(benchmark::State& state, const std::string& path) {
    std::string problem;
    auto client = brivane::ipc::SensorClient::connect(path, problem);
    if (!client) {
        state.SkipWithError(problem.c_str());
        return;
    }
    for (auto _ : state) {
        auto outcome = client->call(Selector::snapshot, std::nullopt, 5000);
        benchmark::DoNotOptimize(outcome);
    }
}

void BM_RoundTripBareSocket(benchmark::State& state) {
    const auto directory = temporaryDirectory();
    {
        brivane::bench::EchoServer echo(directory + "/echo", document);
        roundTrips(state, echo.path());
    }
    std::filesystem::remove_all(directory);
}
BENCHMARK(BM_RoundTripBareSocket)->UseRealTime();

void listenerRoundTrips(benchmark::State& state, bool hop) {
    const auto directory = temporaryDirectory();
    {
        auto created = brivane::ipc::Listener::atPath(directory + "/endpoint");
        created.listener->setDelegate(std::make_shared<EchoService>(hop));
        created.listener->resume();
        std::thread loop([&] { created.listener->run(); });
        roundTrips(state, created.listener->endpointPath());
        created.listener->stop();
        loop.join();
    }
    std::filesystem::remove_all(directory);
}

void BM_RoundTripListener(benchmark::State& state) {
    listenerRoundTrips(state, false);
}
BENCHMARK(BM_RoundTripListener)->UseRealTime();

void BM_RoundTripListenerThroughQueue(benchmark::State& state) {
    listenerRoundTrips(state, true);
}
BENCHMARK(BM_RoundTripListenerThroughQueue)->UseRealTime();

void BM_DecodeRequest(benchmark::State& state) {
    std::string frame;
    brivane::ipc::appendRequestFrame(frame, 42, Selector::storageHealth, "disk3s1s2");
    const std::string_view body = std::string_view(frame).substr(4);
    for (auto _ : state) {
        auto request = brivane::ipc::decodeRequest(body);
        benchmark::DoNotOptimize(request);
    }
}
BENCHMARK(BM_DecodeRequest);

void BM_EncodeReply(benchmark::State& state) {
    std::string out;
    const std::optional<std::string> reply = document;
    for (auto _ : state) {
        out.clear();
        brivane::ipc::appendReplyFrame(out, 42, reply);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_EncodeReply);

} // namespace
