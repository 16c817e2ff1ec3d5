#include "curl_transfer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <curl/curl.h>
#include <memory>
#include <mutex>
#include <system_error>

namespace brivane::system_tools {

using platform::DataTransferResult;
using platform::DownloadTransferResult;
using platform::TransferConfiguration;
using platform::TransferResponse;
namespace {

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

// One prepared transfer: the handle, the lists it points to and its error text.
struct Request {
    EasyHandle handle;
    HeaderList connectTo;
    char errorText[CURL_ERROR_SIZE] = {};
};

void initialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

long milliseconds(double seconds) {
    return static_cast<long>(seconds * 1000.0);
}

std::unique_ptr<Request> prepare(const std::string& url, const TransferConfiguration& configuration,
                                 const CurlTestRouting& routing) {
    initialiseOnce();
    auto request = std::make_unique<Request>();
    request->handle.reset(curl_easy_init());
    CURL* handle = request->handle.get();
    if (!handle) {
        return nullptr;
    }
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, request->errorText);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, milliseconds(configuration.requestTimeout));
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME,
                     std::max(1L, static_cast<long>(configuration.requestTimeout)));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, milliseconds(configuration.resourceTimeout));
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "BrivaneSensorCompanion/" BRIVANE_VERSION);
    if (routing.caFile) {
        curl_easy_setopt(handle, CURLOPT_CAINFO, routing.caFile->c_str());
        curl_easy_setopt(handle, CURLOPT_CAPATH, nullptr);
    }
    for (const auto& entry : routing.connectTo) {
        curl_slist* appended = curl_slist_append(request->connectTo.get(), entry.c_str());
        if (!appended) {
            return nullptr;
        }
        // appended heads the list: the one held, grown in place, or a new one.
        (void)request->connectTo.release();
        request->connectTo.reset(appended);
    }
    if (request->connectTo) {
        curl_easy_setopt(handle, CURLOPT_CONNECT_TO, request->connectTo.get());
    }
    return request;
}

std::string describe(CURLcode code, const Request& request) {
    std::string text = curl_easy_strerror(code);
    if (request.errorText[0] != '\0') {
        text += ": ";
        text += request.errorText;
    }
    return text;
}

TransferResponse responseOf(CURL* handle) {
    TransferResponse response;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &response.statusCode);
    char* effective = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective) {
        response.finalURL = effective;
    }
    return response;
}

struct BodySink {
    std::string body;
    std::size_t limit = 0;
    bool overLimit = false;
};

std::size_t appendBody(char* data, std::size_t size, std::size_t count, void* context) {
    auto* sink = static_cast<BodySink*>(context);
    const std::size_t length = size * count;
    const std::size_t room = sink->limit + 1 - sink->body.size();
    if (length >= room) {
        // One byte past the limit is enough to show the body is too long; stop reading.
        sink->body.append(data, room);
        sink->overLimit = true;
        return 0;
    }
    sink->body.append(data, length);
    return length;
}

struct FileSink {
    std::FILE* file = nullptr;
    std::int64_t maximum = 0;
    std::int64_t received = 0;
};

std::size_t writeFile(char* data, std::size_t size, std::size_t count, void* context) {
    auto* sink = static_cast<FileSink*>(context);
    const std::size_t length = size * count;
    sink->received += static_cast<std::int64_t>(length);
    // Checked here as well as in the progress callback, so no byte past the cap is stored.
    if (sink->received > sink->maximum) {
        return CURL_WRITEFUNC_ERROR;
    }
    return std::fwrite(data, 1, length, sink->file);
}

int reportProgress(void* context, curl_off_t expected, curl_off_t received, curl_off_t,
                   curl_off_t) {
    const auto* sink = static_cast<const FileSink*>(context);
    return (received > sink->maximum || expected > sink->maximum) ? 1 : 0;
}

// Closes a download that failed before it was closed and checked.
struct FileCloser {
    void operator()(std::FILE* file) const { (void)std::fclose(file); }
};

} // namespace

DataTransferResult curlFetch(const std::string& url, std::size_t bodyLimit,
                             const TransferConfiguration& configuration,
                             const CurlTestRouting& routing) {
    DataTransferResult result;
    const auto request = prepare(url, configuration, routing);
    if (!request) {
        result.error = "The transfer could not be prepared.";
        return result;
    }
    BodySink sink;
    sink.limit = bodyLimit;
    CURL* handle = request->handle.get();
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);
    const CURLcode code = curl_easy_perform(handle);
    if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && sink.overLimit)) {
        result.error = describe(code, *request);
        return result;
    }
    result.response = responseOf(handle);
    result.body = std::move(sink.body);
    return result;
}

DownloadTransferResult curlDownload(const std::string& url, const std::string& file,
                                    std::int64_t maximumBytes,
                                    const TransferConfiguration& configuration,
                                    const CurlTestRouting& routing) {
    DownloadTransferResult result;
    const auto request = prepare(url, configuration, routing);
    if (!request) {
        result.error = "The download could not be prepared.";
        return result;
    }
    std::unique_ptr<std::FILE, FileCloser> stream(std::fopen(file.c_str(), "wbxe"));
    if (!stream) {
        result.error = "The download could not be stored: " +
                       std::error_code(errno, std::generic_category()).message();
        return result;
    }
    FileSink sink{stream.get(), maximumBytes, 0};
    CURL* handle = request->handle.get();
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, writeFile);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, reportProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &sink);
    const CURLcode code = curl_easy_perform(handle);
    // Closing may report a write that failed late (a network file system's).
    const bool flushed = std::fflush(stream.get()) == 0;
    const bool closed = std::fclose(stream.release()) == 0;
    if (code != CURLE_OK) {
        result.error = describe(code, *request);
    } else if (!flushed || !closed) {
        result.error = "The download could not be stored.";
    } else {
        result.response = responseOf(handle);
        result.file = file;
    }
    return result;
}

} // namespace brivane::system_tools
