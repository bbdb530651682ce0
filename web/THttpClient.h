#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "web/HttpUrl.h"

namespace pom {

namespace http {
class TRequestThread;
}

// Misuse refused to the caller: no address at Execute, a method other than
// GET or POST.
class HttpClientError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The HTTP client component: one GET or POST at a time, a form sent
// URL-encoded or as multipart/form-data, the response body handed back as
// Windows-1250 text lines (gzip unpacked, UTF-8 and UTF-16 converted).
//
// Every text in and out is Windows-1250, as everywhere in the logic; the
// form values go out as UTF-8. The request runs on a worker thread
// (TRequestThread) while Execute waits on the calling thread, which also runs
// the events; the caller regains control when the request has finished or
// when nothing has arrived for Timeout seconds. One thread uses a component.
class THttpClient {
public:
    using NotifyEvent = std::function<void(THttpClient& sender)>;
    using Field = std::pair<std::string, std::string>;

    // 29 hyphens and a fixed tail: the separator of the multipart body.
    static constexpr std::string_view kBoundary = "-----------------------------7cf87224d2020a";
    static constexpr std::string_view kMultipartType =
        "multipart/form-data; boundary=-----------------------------7cf87224d2020a";
    static constexpr std::string_view kUrlEncodedType = "application/x-www-form-urlencoded";

    THttpClient();
    ~THttpClient();
    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    // --- published properties ---
    // URL-encoded pairs appended to a POST body. Ignored while Busy.
    const std::string& postStr() const { return postStr_; }
    void SetPostStr(const std::string& value);
    // Query text appended to a GET's path. Ignored while Busy.
    const std::string& getStr() const { return getStr_; }
    void SetGetStr(const std::string& value);
    // The request address; "http://" is put in front of one without "://".
    // Its query becomes the body (UTF-8, "+" sent as %2B). A bad address
    // leaves its reason in RequestErrorText.
    const std::string& URL() const { return url_; }
    void SetURL(const std::string& value);
    // Seconds without any data after which a request is given up; 0 or less: never.
    int Timeout() const { return timeout_; }
    void SetTimeout(int seconds) { timeout_ = seconds; }
    // Period of OnTimer during a request in seconds; 0: no OnTimer.
    int TimerIntervalSeconds() const { return timerIntervalSeconds_; }
    void SetTimerIntervalSeconds(int seconds) { timerIntervalSeconds_ = seconds; }
    // False: ProcessMessages runs while Execute waits.
    bool BlockingMode() const { return blockingMode_; }
    void SetBlockingMode(bool value) { blockingMode_ = value; }
    // "GET" or "POST" (any case; stored upper case). Throws HttpClientError
    // for anything else. Ignored while Busy.
    const std::string& RequestMethod() const { return requestMethod_; }
    void SetRequestMethod(const std::string& value);
    // True makes the method POST with a multipart/form-data body. Ignored while Busy.
    bool MultipartPOST() const { return multipartPOST_; }
    void SetMultipartPOST(bool value);
    // Body data arrived (on the thread that runs Execute).
    void SetOnPacketRead(NotifyEvent handler) { onPacketRead_ = std::move(handler); }
    // Every TimerIntervalSeconds during a request (on the thread that runs Execute).
    void SetOnTimer(NotifyEvent handler) { onTimer_ = std::move(handler); }
    // What "let the window's message loop run" means for the caller, used
    // while waiting when BlockingMode is false; nothing when unset.
    void SetProcessMessages(std::function<void()> fn) { processMessages_ = std::move(fn); }

    // --- operations ---
    // Adds a multipart field, or replaces the value of the field with exactly
    // this name in place. Outside multipart mode: RequestErrorText is set and
    // the field is not added. Fields are emptied after every Execute.
    void AddField(const std::string& name, const std::string& value);
    // Performs the request for URL; returns when it is done or given up.
    // Returns at once while Busy. Throws HttpClientError when URL is empty.
    void Execute();
    // SetURL, then Execute.
    void ExecuteURL(const std::string& url);
    // Value of a response header (name in any case, a trailing ':' allowed);
    // empty when absent.
    std::string GetHeader(std::string_view name) const;

    // --- request state ---
    const std::string& Agent() const { return agent_; }
    // Content type of the body; "Content-Type: " in front once a request sent it.
    const std::string& ContentType() const { return contentType_; }
    // Header lines sent with every request.
    std::vector<std::string>& ExtraHeaders() { return extraHeaders_; }
    // Header text of the last request, lines separated by CR LF.
    const std::string& RequestHeaders() const { return requestHeaders_; }
    // Request body bytes as they go out (UTF-8).
    const std::string& Body() const { return body_; }
    const std::vector<Field>& Fields() const { return fields_; }
    const http::CrackedUrl& CrackedURL() const { return cracked_; }
    // Sends the requests for host:port to another address:port instead
    // ("host:port:address:port", as curl's --connect-to); empty for none.
    // Lets a test reach a port-443 address on a local server.
    void SetConnectTo(std::string route) { connectTo_ = std::move(route); }
    // A flag that, once true, gives the running request up as its deadline
    // would (the owner is shutting down); null for none.
    void SetCancelFlag(const std::atomic<bool>* flag) { cancel_ = flag; }

    // --- response state ---
    // Body bytes (decoded once Execute has returned).
    const std::string& ResponseStream() const { return responseStream_; }
    const std::vector<std::string>& ResponseLines() const { return responseLines_; }
    // ResponseLines with CR LF after each line.
    std::string ResponseText() const;
    // The reply as one text: ResponseText(), or, when ResponseLines was cut
    // to kMaxLines lines, the whole decoded text up to a zero byte, so that a
    // reply word far down is still there.
    std::string ResponseWholeText() const;
    // The status of the response this request got (after redirects), 0 when
    // none arrived.
    int StatusCode() const { return statusCode_; }
    // Status line and header lines of the last response that arrived.
    const std::vector<std::string>& ResponseHeaders() const { return responseHeaders_; }
    const std::vector<std::string>& Cookies() const { return cookies_; }
    std::int64_t ContentLength() const { return contentLength_; }
    std::int64_t BytesRead() const { return bytesRead_; }
    // Error number of the last request, 0 if none: 12029 cannot connect,
    // 12007 name not resolved, otherwise libcurl's number.
    int RequestError() const { return requestError_; }
    const std::string& RequestErrorText() const { return requestErrorText_; }
    // 0 normal, 100 when the request was given up at its deadline.
    int ResultCode() const { return resultCode_; }
    static constexpr int kResultTimedOut = 100;

    // --- progress state ---
    bool Busy() const { return busy_; }
    bool TimedOut() const { return timedOut_; }
    std::uint64_t ChunksRead() const { return chunksRead_; }
    int PacketReadCalls() const { return packetReadCalls_; }
    int TimerCalls() const { return timerCalls_; }

private:
    bool PrepareRequest();
    void BuildMultipart();
    void AddHeaderLine(const std::string& line);
    void RunRequest();
    void WaitForWorker();
    void TakeResult();
    void DecodeResponse();
    void EndRequest(bool requested);
    void NoteError(const std::string& text);

    // published
    std::string postStr_;
    std::string getStr_;
    std::string url_;
    int timeout_ = 90;
    int timerIntervalSeconds_ = 0;
    bool blockingMode_ = true;
    std::string requestMethod_ = "GET";
    bool multipartPOST_ = false;
    NotifyEvent onPacketRead_;
    NotifyEvent onTimer_;
    std::function<void()> processMessages_;

    // request
    std::string agent_ = "httpclient";
    std::string contentType_;
    std::vector<std::string> extraHeaders_{"Accept-Encoding: gzip, deflate"};
    std::string requestHeaders_;
    std::string body_;
    std::vector<Field> fields_;
    http::CrackedUrl cracked_;
    std::string connectTo_;
    const std::atomic<bool>* cancel_ = nullptr;

    // response
    std::string responseStream_;
    std::vector<std::string> responseLines_;
    std::string responseCutText_;  // the whole text, kept only when the lines were cut
    int statusCode_ = 0;
    std::vector<std::string> responseHeaders_;
    std::vector<std::string> cookies_;
    std::int64_t contentLength_ = 0;
    std::int64_t bytesRead_ = 0;
    int requestError_ = 0;
    std::string requestErrorText_;
    int resultCode_ = 0;

    // progress
    bool busy_ = false;
    bool timedOut_ = false;
    std::uint64_t chunksRead_ = 0;
    int packetReadCalls_ = 0;
    int timerCalls_ = 0;

    // The worker of the current request, or of one given up at its deadline
    // that has not ended yet (joined by the next Execute or the destructor).
    std::unique_ptr<http::TRequestThread> worker_;
};

}  // namespace pom
