#include "web/TRequestThread.h"

#include <curl/curl.h>

#include <string_view>

namespace pom::http {
namespace {

// What the worker reports for a transfer that failed; the numbers are those
// the client has always reported for these two.
constexpr int kNameNotResolved = 12007;
constexpr int kCannotConnect = 12029;

struct CurlWork {
    explicit CurlWork(Transfer& transfer) : t(transfer) {}
    Transfer& t;
    HeaderCollector collector;
    bool headersTooLarge = false;
    bool bodyTooLarge = false;
};

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& w = *static_cast<CurlWork*>(user);
    const std::size_t len = size * count;
    if (w.t.abandoned) return 0;
    const bool wasComplete = w.collector.Complete();
    if (!w.collector.Add(std::string_view(data, len))) {
        w.headersTooLarge = true;
        return 0;
    }
    if (w.collector.Complete() && !wasComplete) {
        std::lock_guard lock(w.t.mutex);
        w.t.headers = w.collector.Lines();
        w.t.cookies = CookiesOf(w.t.headers);
        w.t.contentLength = ContentLengthOf(w.t.headers);
        w.t.headersReady = true;
        w.t.MoveDeadline();
    }
    return len;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& w = *static_cast<CurlWork*>(user);
    const std::size_t len = size * count;
    if (w.t.abandoned || w.t.deadlineHit) return 0;
    if (len > kMaxBody - w.t.body.size()) {
        w.bodyTooLarge = true;
        return 0;
    }
    w.t.body.append(data, len);
    w.t.bytesRead += static_cast<std::int64_t>(len);
    w.t.MoveDeadline();
    {
        std::lock_guard lock(w.t.mutex);
        ++w.t.chunks;
    }
    w.t.wake.notify_all();
    return len;
}

// Called by curl often while data flows and about once a second while none
// does; this is where the inactivity deadline and a give-up take effect.
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto& w = *static_cast<CurlWork*>(user);
    if (w.t.abandoned) return 1;
    if (w.t.PastDeadline()) {
        w.t.deadlineHit = true;
        return 1;
    }
    return 0;
}

struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};

}  // namespace

void Transfer::MoveDeadline() {
    if (plan.timeoutSeconds <= 0) return;
    deadline =
        (SteadyClock::now() + std::chrono::seconds(plan.timeoutSeconds)).time_since_epoch().count();
}

bool Transfer::PastDeadline() const {
    return plan.timeoutSeconds > 0 &&
           SteadyClock::now().time_since_epoch().count() > deadline.load();
}

TRequestThread::TRequestThread(RequestPlan plan, SteadyClock::time_point deadline)
    : transfer_(std::make_unique<Transfer>(std::move(plan))) {
    transfer_->deadline = deadline.time_since_epoch().count();
    thread_ = std::thread([t = transfer_.get()] { Run(*t); });
}

TRequestThread::~TRequestThread() {
    Abandon();
    if (thread_.joinable()) thread_.join();
}

bool TRequestThread::Finished() {
    std::lock_guard lock(transfer_->mutex);
    return transfer_->done;
}

void TRequestThread::Run(Transfer& t) {
    CurlWork w(t);
    int error = 0;
    std::string errorText;
    std::unique_ptr<CURL, EasyDeleter> h(curl_easy_init());
    if (!h) {
        errorText = "Could not open Internet";
    } else {
        std::unique_ptr<curl_slist, SlistDeleter> headers;
        auto add = [&headers](const std::string& line) {
            if (curl_slist* l = curl_slist_append(headers.get(), line.c_str())) {
                (void)headers.release();
                headers.reset(l);
            }
        };
        for (const auto& line : t.plan.headerLines) add(line);
        // Only what the client built goes out: no Accept or Expect of curl's own.
        add("Accept:");
        add("Expect:");
        std::unique_ptr<curl_slist, SlistDeleter> connectTo;
        if (!t.plan.connectTo.empty())
            connectTo.reset(curl_slist_append(nullptr, t.plan.connectTo.c_str()));

        char curlError[CURL_ERROR_SIZE] = {};
        CURL* c = h.get();
        curl_easy_setopt(c, CURLOPT_ERRORBUFFER, curlError);
        curl_easy_setopt(c, CURLOPT_URL, t.plan.url.c_str());
        curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
        curl_easy_setopt(c, CURLOPT_PATH_AS_IS, 1L);
        curl_easy_setopt(c, CURLOPT_USERAGENT, t.plan.agent.c_str());
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
        if (connectTo) curl_easy_setopt(c, CURLOPT_CONNECT_TO, connectTo.get());
        if (t.plan.post) {
            curl_easy_setopt(c, CURLOPT_POST, 1L);
            curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(t.plan.body.size()));
            curl_easy_setopt(c, CURLOPT_POSTFIELDS, t.plan.body.data());
        } else {
            curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
        }
        // The body arrives as sent; gzip is unpacked by the client itself.
        curl_easy_setopt(c, CURLOPT_HTTP_CONTENT_DECODING, 0L);
        // Redirects are followed, as the system's HTTP layer always did. A
        // POST stays a POST with its body on 301, 302 and 303 too: a bodiless
        // GET to the target could fetch a page with a reply word in it, and
        // a reading never stored would count as sent.
        curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(c, CURLOPT_POSTREDIR, static_cast<long>(CURL_REDIR_POST_ALL));
        curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
        curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        if (t.plan.tls) {
            // The scripts' hosts often have self-made, expired or mismatched
            // certificates; the station's readings are not secret.
            curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 0L);
            curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);
        }
        curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(c, CURLOPT_BUFFERSIZE, static_cast<long>(kReadChunk));
        curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &OnHeader);
        curl_easy_setopt(c, CURLOPT_HEADERDATA, &w);
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &OnBody);
        curl_easy_setopt(c, CURLOPT_WRITEDATA, &w);
        curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &OnProgress);
        curl_easy_setopt(c, CURLOPT_XFERINFODATA, &w);

        const CURLcode rc = curl_easy_perform(c);
        char* method = nullptr;
        const bool methodChanged =
            rc == CURLE_OK && t.plan.post &&
            curl_easy_getinfo(c, CURLINFO_EFFECTIVE_METHOD, &method) == CURLE_OK && method &&
            std::string_view(method) != "POST";
        if (t.abandoned || t.deadlineHit) {
            // The caller reports the deadline; nothing else counts.
        } else if (w.headersTooLarge) {
            error = rc;
            errorText = "httpclient: response headers longer than " +
                        std::to_string(kMaxHeaderBytes) + " bytes";
        } else if (w.bodyTooLarge) {
            error = rc;
            errorText =
                "httpclient: response body longer than " + std::to_string(kMaxBody) + " bytes";
        } else if (rc == CURLE_COULDNT_RESOLVE_HOST || rc == CURLE_COULDNT_CONNECT) {
            error = rc == CURLE_COULDNT_CONNECT ? kCannotConnect : kNameNotResolved;
            errorText = "Could not connect to server " + t.plan.host;
        } else if (methodChanged) {
            // Whatever that page says, the form never reached a script.
            error = CURLE_HTTP_RETURNED_ERROR;
            errorText = "httpclient: a redirect turned the POST into " + std::string(method);
            t.body.clear();
        } else if (rc != CURLE_OK) {
            error = rc;
            errorText =
                "httpclient: " + std::string(curlError[0] ? curlError : curl_easy_strerror(rc));
        }
        if (t.abandoned || t.deadlineHit || w.bodyTooLarge) t.body.clear();
    }
    {
        std::lock_guard lock(t.mutex);
        t.error = error;
        t.errorText = std::move(errorText);
        t.done = true;
    }
    t.wake.notify_all();
}

}  // namespace pom::http
