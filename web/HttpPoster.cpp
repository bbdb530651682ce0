#include "web/HttpPoster.h"

namespace pom {

PostOutcome PostRecordWith(THttpClient& client, const UploadRecord& record) {
    client.SetMultipartPOST(true);
    client.AddField("Miasto", record.Table);
    client.AddField("Data", record.Stamp);
    for (std::size_t i = 0; i < UploadRecord::kValues; ++i)
        if (record.Values[i].find("-999") == std::string::npos)
            client.AddField("Sonda" + std::to_string(i), record.Values[i]);
    client.ExecuteURL(record.Address);
    PostOutcome out;
    // The reply words are looked for in the whole reply: one far down a long
    // page must not leave a stored record to be sent again for ever.
    out.response = client.ResponseWholeText();
    if (client.ResultCode() == THttpClient::kResultTimedOut) {
        out.failure = "timeout";
    } else if (client.RequestError() != 0 && out.response.empty()) {
        out.failure = client.RequestErrorText();
    } else {
        const int status = client.StatusCode();
        if (status == 0) {
            // Nothing was sent (a bad query pair), or no HTTP reply came.
            out.failure = client.RequestErrorText().empty() ? std::string("httpclient: no reply")
                                                            : client.RequestErrorText();
        } else {
            if (status < 200 || status > 299) out.failure = client.ResponseHeaders().front();
            out.reason = client.RequestErrorText();
        }
    }
    return out;
}

}  // namespace pom
