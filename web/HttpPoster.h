#pragma once

#include "web/Sender.h"
#include "web/THttpClient.h"

namespace pom {

// Posts a job as the recording script expects it: a multipart form with
// "Miasto", "Data" and the value slots that are not empty, as Sonda0 to
// Sonda10, in this order. A request that could not be made (no connection,
// the deadline) gives its reason in `failure`, and so does a reply that is
// not 2xx: only a script that answered normally can have stored the record.
PostOutcome PostRecordWith(THttpClient& client, const UploadRecord& record);

}  // namespace pom
