#include "platform/host/curl_transfer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <curl/curl.h>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace brivane::platform::host {
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
        request->connectTo.release();
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
    const DownloadProgress* progress = nullptr;
    std::int64_t received = 0;
};

std::size_t writeFile(char* data, std::size_t size, std::size_t count, void* context) {
    auto* sink = static_cast<FileSink*>(context);
    const std::size_t length = size * count;
    sink->received += static_cast<std::int64_t>(length);
    // Checked here as well as in the progress callback, so no byte past the cap is stored.
    if (*sink->progress && !(*sink->progress)(sink->received, -1)) {
        return CURL_WRITEFUNC_ERROR;
    }
    return std::fwrite(data, 1, length, sink->file);
}

int reportProgress(void* context, curl_off_t expected, curl_off_t received, curl_off_t,
                   curl_off_t) {
    auto* sink = static_cast<FileSink*>(context);
    const std::int64_t announced = expected > 0 ? expected : -1;
    return (*sink->progress && !(*sink->progress)(received, announced)) ? 1 : 0;
}

// A private folder holding one download; removed with everything in it.
class TemporaryFolder {
public:
    explicit TemporaryFolder(const std::optional<std::string>& parent) {
        std::error_code error;
        std::filesystem::path base =
            parent ? std::filesystem::path(*parent) : std::filesystem::temp_directory_path(error);
        if (error || (parent && (std::filesystem::create_directories(base, error), error))) {
            return;
        }
        std::string pattern = (base / "download-XXXXXX").string();
        if (::mkdtemp(pattern.data())) { // created with mode 0700
            path_ = pattern;
        }
    }
    ~TemporaryFolder() {
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

CurlTransfer::CurlTransfer(std::shared_ptr<SerialQueue> delegateQueue,
                           TransferConfiguration configuration, CurlTestRouting routing)
    : queue_(std::move(delegateQueue)), configuration_(std::move(configuration)),
      routing_(std::move(routing)) {}

void CurlTransfer::fetch(const std::string& url, std::size_t bodyLimit,
                         std::function<void(DataTransferResult)> completion) {
    queue_->async([this, url, bodyLimit, completion = std::move(completion)] {
        completion(fetchNow(url, bodyLimit));
    });
}

void CurlTransfer::download(const std::string& url, DownloadProgress progress,
                            std::function<void(DownloadTransferResult)> completion) {
    queue_->async([this, url, progress = std::move(progress), completion = std::move(completion)] {
        downloadNow(url, progress, completion);
    });
}

DataTransferResult CurlTransfer::fetchNow(const std::string& url, std::size_t bodyLimit) const {
    DataTransferResult result;
    const auto request = prepare(url, configuration_, routing_);
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

void CurlTransfer::downloadNow(
    const std::string& url, const DownloadProgress& progress,
    const std::function<void(DownloadTransferResult)>& completion) const {
    DownloadTransferResult result;
    const TemporaryFolder folder(configuration_.downloadDirectory);
    const auto request = prepare(url, configuration_, routing_);
    if (folder.path().empty() || !request) {
        result.error = "The download could not be prepared: " +
                       std::error_code(errno, std::generic_category()).message();
        completion(std::move(result));
        return;
    }
    const std::string path = folder.path() + "/download";
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wbxe"));
    if (!file) {
        result.error = "The download could not be stored: " +
                       std::error_code(errno, std::generic_category()).message();
        completion(std::move(result));
        return;
    }
    FileSink sink{file.get(), &progress, 0};
    CURL* handle = request->handle.get();
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, writeFile);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, reportProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &sink);
    const CURLcode code = curl_easy_perform(handle);
    const bool flushed = std::fflush(file.get()) == 0;
    file.reset();
    if (code != CURLE_OK) {
        result.error = describe(code, *request);
    } else if (!flushed) {
        result.error = "The download could not be stored.";
    } else {
        result.response = responseOf(handle);
        result.file = path;
    }
    completion(std::move(result));
}

} // namespace brivane::platform::host
