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
    out.response = client.ResponseText();
    if (client.ResultCode() == THttpClient::kResultTimedOut)
        out.failure = "timeout";
    else if (client.RequestError() != 0 && out.response.empty())
        out.failure = client.RequestErrorText();
    return out;
}

}  // namespace pom
