// obs-websocket 5 (RPC version 1), the protocol button decks and automation tools speak to a
// broadcast program, as the studio's second remote-control endpoint speaks it. Pure code, no Qt.
//
// Every message is {"op": N, "d": {...}}, as JSON in text frames (subprotocol
// "obswebsocket.json", the default) or as MessagePack in binary frames ("obswebsocket.msgpack").
// The server greets with Hello (op 0), the client answers Identify (1) and hears Identified (2);
// afterwards it sends Reidentify (3), Request (6) and RequestBatch (8), and hears Event (5),
// RequestResponse (7) and RequestBatchResponse (9). A message the server cannot use closes the
// connection with one of the protocol's close codes (closeCode below).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "common/Json.h"

namespace vantry::remote::obs {

inline constexpr std::uint16_t kDefaultPort = 4455;
inline constexpr int kRpcVersion = 1;
inline constexpr std::string_view kWebSocketVersion = "5.0.0";
inline constexpr std::string_view kJsonSubprotocol = "obswebsocket.json";
inline constexpr std::string_view kMsgPackSubprotocol = "obswebsocket.msgpack";
// The longest requestId taken, and the most requests in one batch.
inline constexpr std::size_t kMaxRequestIdBytes = 256;
inline constexpr std::size_t kMaxBatchRequests = 256;

enum class Encoding { json, msgpack };

namespace op {
inline constexpr int hello = 0;
inline constexpr int identify = 1;
inline constexpr int identified = 2;
inline constexpr int reidentify = 3;
inline constexpr int event = 5;
inline constexpr int request = 6;
inline constexpr int requestResponse = 7;
inline constexpr int requestBatch = 8;
inline constexpr int requestBatchResponse = 9;
}  // namespace op

namespace closeCode {
inline constexpr std::uint16_t unknownReason = 4000;
inline constexpr std::uint16_t messageDecodeError = 4002;
inline constexpr std::uint16_t missingDataField = 4003;
inline constexpr std::uint16_t invalidDataFieldType = 4004;
inline constexpr std::uint16_t invalidDataFieldValue = 4005;
inline constexpr std::uint16_t unknownOpCode = 4006;
inline constexpr std::uint16_t notIdentified = 4007;
inline constexpr std::uint16_t alreadyIdentified = 4008;
inline constexpr std::uint16_t authenticationFailed = 4009;
inline constexpr std::uint16_t unsupportedRpcVersion = 4010;
}  // namespace closeCode

namespace status {
inline constexpr int success = 100;
inline constexpr int unknownRequestType = 204;
inline constexpr int notReady = 207;
inline constexpr int missingRequestField = 300;
inline constexpr int invalidRequestField = 400;
inline constexpr int invalidRequestFieldType = 401;
inline constexpr int requestFieldOutOfRange = 402;
inline constexpr int outputRunning = 500;
inline constexpr int outputNotRunning = 501;
inline constexpr int resourceNotFound = 600;
inline constexpr int invalidResourceState = 604;
inline constexpr int requestProcessingFailed = 702;
}  // namespace status

// Event categories, a client's eventSubscriptions bits.
namespace subscription {
inline constexpr std::uint32_t general = 1u << 0;
inline constexpr std::uint32_t scenes = 1u << 2;
inline constexpr std::uint32_t inputs = 1u << 3;
inline constexpr std::uint32_t outputs = 1u << 6;
inline constexpr std::uint32_t all = (1u << 11) - 1;  // every category, no high-volume event
inline constexpr std::uint32_t inputVolumeMeters = 1u << 16;
}  // namespace subscription

// The client messages.
struct Identify {
    int rpcVersion = kRpcVersion;
    std::optional<std::string> authentication;
    std::uint32_t eventSubscriptions = subscription::all;
};
struct Reidentify {
    std::uint32_t eventSubscriptions = subscription::all;
};
struct Call {
    std::string requestType;
    std::string requestId;  // empty inside a batch when the client gave none
    json::Object requestData;
};
struct Batch {
    std::string requestId;
    bool haltOnFailure = false;
    int executionType = 0;  // -1 to 2; the studio runs every batch in order
    std::vector<Call> requests;
};
using Message = std::variant<Identify, Reidentify, Call, Batch>;

// Why a message closes the connection.
struct Failure {
    std::uint16_t closeCode = closeCode::messageDecodeError;
    std::string reason;  // at most 123 bytes: it goes into the close frame
};

// One client message in `encoding`. Never throws.
std::variant<Message, Failure> decodeMessage(std::string_view bytes, Encoding encoding);

// The subprotocol's encoding; absent for one the studio does not speak. Empty: JSON.
std::optional<Encoding> encodingOf(std::string_view subprotocol);

// {"op": op, "d": data} in `encoding` (JSON text or MessagePack bytes).
std::string encodeMessage(int op, json::Object data, Encoding encoding);

// Building response data.
json::Value text(std::string_view s);
json::Value number(double v);
json::Value integer(std::int64_t v);
json::Value boolean(bool v);
json::Value null();
json::Value object(std::initializer_list<std::pair<const std::string, json::Value>> members);
json::Value array(std::vector<json::Value> items);

// A request's result as RequestResponse's requestStatus and responseData carry it.
struct Result {
    int code = status::success;
    std::string comment;        // on failures
    json::Object responseData;  // on success; may be empty
    bool ok() const { return code == status::success; }
};
Result failure(int code, std::string comment);
// The d of a RequestResponse (requestType, requestId, requestStatus, responseData), or of one
// entry of a RequestBatchResponse's results.
json::Object responseData(const Call& call, const Result& result);

// Reading request fields: absent (and `result` set to the status to answer) when a required
// field is missing or of the wrong type.
const std::string* stringField(const json::Object& data, std::string_view name, Result& result);
std::optional<bool> boolField(const json::Object& data, std::string_view name, Result& result);
// A number within [from, to]; `required` false gives absent without a failure when missing.
std::optional<double> numberField(const json::Object& data, std::string_view name, double from, double to,
                                  bool required, Result& result);

// "HH:MM:SS.mmm", as output timecodes are written.
std::string timecode(std::int64_t milliseconds);

}  // namespace vantry::remote::obs
