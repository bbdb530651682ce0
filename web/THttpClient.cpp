#include "web/THttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <mutex>

#include "util/Cp1250.h"
#include "web/HttpDecode.h"
#include "web/TRequestThread.h"

namespace pom {
namespace {

using http::SteadyClock;

// How long the waiting side sleeps at most: the deadline and OnTimer are
// checked at least this often even while no data arrives.
constexpr auto kWakeEvery = std::chrono::milliseconds(100);

std::string Upper(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

std::string Lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

// Splits at every separator; a text ending in the separator gives no empty
// last part ("x=" is one part, "=5" two).
std::vector<std::string> SplitParts(std::string_view text, char sep) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(sep, start);
        if (at == std::string_view::npos) break;
        parts.emplace_back(text.substr(start, at - start));
        start = at + 1;
    }
    if (start < text.size()) parts.emplace_back(text.substr(start));
    return parts;
}

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

THttpClient::THttpClient() {
    // libcurl keeps no receive time-out of its own; the inactivity deadline
    // below is the only one.
    GlobalInit();
}

THttpClient::~THttpClient() = default;

void THttpClient::SetPostStr(const std::string& value) {
    if (busy_) return;
    postStr_ = value;
}

void THttpClient::SetGetStr(const std::string& value) {
    if (busy_) return;
    getStr_ = value;
}

void THttpClient::SetRequestMethod(const std::string& value) {
    if (busy_) return;
    const std::string method = Upper(value);
    if (method != "POST" && method != "GET")
        throw HttpClientError("Unsupported method. Allowed methods: GET, POST");
    requestMethod_ = method;
    if (method == "POST")
        contentType_ = std::string(multipartPOST_ ? kMultipartType : kUrlEncodedType);
    else
        contentType_.clear();
}

void THttpClient::SetMultipartPOST(bool value) {
    if (busy_) return;
    multipartPOST_ = value;
    SetRequestMethod(value ? std::string("POST") : requestMethod_);
}

void THttpClient::SetURL(const std::string& value) {
    url_ = value;
    if (url_.empty()) {
        cracked_ = {};
        return;
    }
    if (Lower(url_).find("://") == std::string::npos) url_ = "http://" + url_;
    body_.clear();
    std::string message;
    const int error = http::CrackUrl(Cp1250ToUtf8(url_), cracked_, message);
    if (error != 0) {
        requestErrorText_ = "httpclient: Invalid URL. Error - " + std::to_string(error) + " = " +
                            Utf8ToCp1250(message);
        return;
    }
    if (cracked_.path.empty()) {
        requestErrorText_ = "httpclient: Empty URL";
        return;
    }
    // The query is posted as it stands; a "+" in it means itself.
    for (char c : cracked_.extra) {
        if (c == '+')
            body_ += "%2B";
        else
            body_ += c;
    }
}

void THttpClient::AddField(const std::string& name, const std::string& value) {
    if (!multipartPOST_) {
        requestErrorText_ = "httpclient not in multipart mode";
        return;
    }
    auto it = std::find_if(fields_.begin(), fields_.end(),
                           [&name](const Field& f) { return f.first == name; });
    if (it != fields_.end())
        it->second = value;
    else
        fields_.emplace_back(name, value);
}

void THttpClient::ExecuteURL(const std::string& url) {
    SetURL(url);
    Execute();
}

std::string THttpClient::GetHeader(std::string_view name) const {
    return http::HeaderValue(responseHeaders_, name);
}

std::string THttpClient::ResponseText() const {
    return http::JoinLines(responseLines_);
}

std::string THttpClient::ResponseWholeText() const {
    return responseCutText_.empty() ? ResponseText() : responseCutText_;
}

void THttpClient::NoteError(const std::string& text) {
    if (requestErrorText_.empty()) requestErrorText_ = text;
}

void THttpClient::Execute() {
    if (busy_) return;
    busy_ = true;
    resultCode_ = 0;
    requestError_ = 0;
    requestErrorText_.clear();
    bytesRead_ = 0;
    contentLength_ = 0;
    bool requested = false;
    try {
        if (url_.empty()) throw HttpClientError("THttpClient: no url in execute method");
        responseLines_.clear();
        responseCutText_.clear();
        responseStream_.clear();
        statusCode_ = 0;
        timedOut_ = false;
        // A worker given up at an earlier deadline has stopped by now or
        // stops within a second; it must be gone before a new one starts.
        worker_.reset();
        requested = true;
        RunRequest();
        DecodeResponse();
    } catch (...) {
        EndRequest(requested);
        throw;
    }
    EndRequest(requested);
}

void THttpClient::EndRequest(bool requested) {
    if (worker_) {
        if (worker_->Finished())
            worker_.reset();
        else
            worker_->Abandon();  // joined by the next Execute or the destructor
    }
    if (requested && multipartPOST_) body_.clear();
    fields_.clear();
    busy_ = false;
}

void THttpClient::AddHeaderLine(const std::string& line) {
    if (!requestHeaders_.empty()) requestHeaders_ += "\r\n";
    requestHeaders_ += line;
}

// Headers and body of the request; false when it must not be sent.
bool THttpClient::PrepareRequest() {
    requestHeaders_.clear();
    if (requestMethod_ == "GET") body_.clear();
    if (!body_.empty() && body_.front() == '?') body_.erase(0, 1);
    if (!postStr_.empty()) {
        if (requestMethod_ == "GET") {
            NoteError("No poststr allowed in GET method");
            return false;
        }
        if (!body_.empty()) body_ += '&';
        body_ += Cp1250ToUtf8(postStr_);
        postStr_.clear();
    }
    if (requestMethod_ != "POST")
        contentType_.clear();
    else if (contentType_.empty())
        contentType_ = std::string(kUrlEncodedType);
    if (!contentType_.empty() && contentType_.find("Content-Type:") == std::string::npos)
        contentType_ = "Content-Type: " + contentType_;
    if (!contentType_.empty()) AddHeaderLine(contentType_);
    std::string extra;
    for (const auto& line : extraHeaders_) extra += line + "\r\n";
    if (!extra.empty()) AddHeaderLine(extra);
    if (Lower(contentType_).find("multipart") != std::string::npos) BuildMultipart();
    return requestErrorText_.empty() && requestError_ == 0;
}

void THttpClient::BuildMultipart() {
    if (!body_.empty()) {
        std::string_view rest = body_;
        if (rest.front() == '&') rest.remove_prefix(1);
        for (const auto& pair : SplitParts(rest, '&')) {
            const auto parts = SplitParts(pair, '=');
            if (parts.size() != 2) {
                requestErrorText_ = "could not convert " + Utf8ToCp1250(pair) + " to multipart";
                return;
            }
            // Back to our own text: the value is encoded once, below.
            AddField(Utf8ToCp1250(parts[0]), Utf8ToCp1250(parts[1]));
        }
    }
    if (fields_.empty()) {
        requestErrorText_ = "multipart error: no variables to post";
        return;
    }
    std::string body;
    for (const auto& [name, value] : fields_) {
        body += "--";
        body += kBoundary;
        body += "\r\nContent-Disposition: form-data; name=\"";
        body += Cp1250ToUtf8(name);
        body += "\"\r\n\r\n";
        body += Cp1250ToUtf8(value);
        body += "\r\n";
    }
    body += "--";
    body += kBoundary;
    body += "--\r\n";
    body_ = std::move(body);
}

void THttpClient::RunRequest() {
    const auto start = SteadyClock::now();
    chunksRead_ = 0;
    packetReadCalls_ = 0;
    timerCalls_ = 0;

    // The object name: the path, for GET with the address's query and getStr.
    std::string object = cracked_.path;
    if (requestMethod_ == "GET") {
        object += cracked_.extra;
        if (!getStr_.empty()) {
            object += object.find('?') != std::string::npos ? "&" : "?";
            object += Cp1250ToUtf8(getStr_);
            getStr_.clear();
        }
    }
    if (cracked_.host.empty()) {
        NoteError("Could not connect to server " + Utf8ToCp1250(cracked_.host));
        return;
    }
    if (!PrepareRequest()) return;

    http::RequestPlan plan;
    plan.tls = http::UsesTls(cracked_);
    if (object.empty() || object.front() != '/') object.insert(0, "/");
    plan.url = std::string(plan.tls ? "https://" : "http://") + cracked_.host + ":" +
               std::to_string(cracked_.port) + http::EscapeObjectName(object);
    plan.host = cracked_.host;
    plan.post = requestMethod_ == "POST";
    for (const auto& line : SplitParts(requestHeaders_, '\n')) {
        std::string_view l = line;
        if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
        if (!l.empty()) plan.headerLines.emplace_back(l);
    }
    plan.body = body_;
    plan.agent = agent_;
    plan.connectTo = connectTo_;
    plan.timeoutSeconds = timeout_;
    worker_ = std::make_unique<http::TRequestThread>(
        std::move(plan), start + std::chrono::seconds(std::max(timeout_, 0)));
    WaitForWorker();
}

void THttpClient::WaitForWorker() {
    http::Transfer& t = worker_->transfer();
    auto lastPacketRead = SteadyClock::now();
    auto lastTimer = lastPacketRead;
    std::uint64_t seenChunks = 0;
    bool done = false;
    do {
        {
            std::unique_lock lock(t.mutex);
            t.wake.wait_for(lock, kWakeEvery, [&] { return t.done || t.chunks != seenChunks; });
            done = t.done;
            chunksRead_ = t.chunks;
        }
        const auto now = SteadyClock::now();
        if (onPacketRead_ && chunksRead_ != seenChunks) {
            seenChunks = chunksRead_;
            lastPacketRead = now;
            ++packetReadCalls_;
            onPacketRead_(*this);
        }
        seenChunks = chunksRead_;
        if (onTimer_ && timerIntervalSeconds_ > 0 &&
            now - lastTimer > std::chrono::seconds(timerIntervalSeconds_)) {
            lastTimer = now;
            ++timerCalls_;
            onTimer_(*this);
        }
        if (!blockingMode_ && processMessages_) processMessages_();
        if (!done && (t.PastDeadline() || (cancel_ != nullptr && cancel_->load()))) {
            // Give up: the worker stops at its next progress call and keeps
            // its hands off everything the client holds.
            worker_->Abandon();
            timedOut_ = true;
            break;
        }
    } while (!done);
    TakeResult();
}

void THttpClient::TakeResult() {
    http::Transfer& t = worker_->transfer();
    std::lock_guard lock(t.mutex);
    if (t.headersReady) {
        statusCode_ = http::StatusOf(t.headers);
        responseHeaders_ = t.headers;
        cookies_ = t.cookies;
        contentLength_ = t.contentLength;
    }
    bytesRead_ = t.bytesRead;
    if (t.done && t.deadlineHit) timedOut_ = true;
    if (timedOut_) {
        responseStream_.clear();
        resultCode_ = kResultTimedOut;
        return;
    }
    requestError_ = t.error;
    if (!t.errorText.empty()) NoteError(Utf8ToCp1250(t.errorText));
    responseStream_ = std::move(t.body);
}

void THttpClient::DecodeResponse() {
    // No copy of a large reply that is neither gzip nor to be converted.
    if (http::IsGzipMember(responseStream_)) {
        bool tooLarge = false;
        responseStream_ = http::DecodeBody(responseStream_, http::kMaxDecoded, &tooLarge);
        if (tooLarge)
            NoteError("httpclient: gzip body inflates to more than " +
                      std::to_string(http::kMaxDecoded) + " bytes");
    }
    const std::string headerText = http::JoinLines(responseHeaders_);
    std::string converted;
    std::string_view text = responseStream_;
    if (http::NeedsConversion(headerText)) {
        converted = http::BodyToText(responseStream_, headerText);
        text = converted;
    }
    bool cut = false;
    responseLines_ = http::SplitLines(text, http::kMaxLines, &cut);
    if (cut) {
        NoteError("httpclient: response cut to its first " + std::to_string(http::kMaxLines) +
                  " lines");
        // A zero byte ends the text, as it ends the lines.
        text = text.substr(0, text.find('\0'));
        responseCutText_.assign(text);
    }
}

}  // namespace pom
