// Any bytes as an obs-websocket client's message, in either encoding (the first byte chooses:
// even JSON, odd MessagePack). The decoder must never throw or crash; what it accepts must hold to
// the bounds the server relies on, a refusal must carry a close code and a reason that fits a
// close frame, and whatever was accepted must encode again in both encodings. MessagePack that
// decodes must read back the same after the writer.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/remote/ObsWebSocketProtocol.h"
#include "common/MessagePack.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

void encodesBothWays(const vantry::json::Object& data) {
    using namespace vantry::remote::obs;
    check(!encodeMessage(op::request, data, Encoding::json).empty());
    const std::string packed = encodeMessage(op::request, data, Encoding::msgpack);
    check(vantry::msgpack::decode(packed).has_value());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vantry::remote::obs;
    if (size == 0) return 0;
    const Encoding encoding = data[0] % 2 == 0 ? Encoding::json : Encoding::msgpack;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    if (encoding == Encoding::msgpack) {
        if (const auto value = vantry::msgpack::decode(bytes)) {
            const std::string again = vantry::msgpack::encode(*value);
            const auto back = vantry::msgpack::decode(again);
            check(back.has_value() && vantry::msgpack::encode(*back) == again);
        }
    }

    const auto decoded = decodeMessage(bytes, encoding);
    if (const auto* failure = std::get_if<Failure>(&decoded)) {
        check(failure->closeCode >= closeCode::unknownReason &&
              failure->closeCode <= closeCode::unsupportedRpcVersion);
        check(!failure->reason.empty() && failure->reason.size() <= 123);
        return 0;
    }
    const Message& message = std::get<Message>(decoded);
    if (const auto* call = std::get_if<Call>(&message)) {
        check(call->requestId.size() <= kMaxRequestIdBytes);
        encodesBothWays(responseData(*call, Result{}));
        encodesBothWays(call->requestData);
    }
    if (const auto* batch = std::get_if<Batch>(&message)) {
        check(batch->requests.size() <= kMaxBatchRequests && batch->requestId.size() <= kMaxRequestIdBytes);
        check(batch->executionType >= -1 && batch->executionType <= 2);
        for (const Call& call : batch->requests) {
            check(call.requestId.size() <= kMaxRequestIdBytes);
            encodesBothWays(call.requestData);
        }
    }
    if (const auto* identify = std::get_if<Identify>(&message)) check(identify->rpcVersion >= 0);
    return 0;
}
