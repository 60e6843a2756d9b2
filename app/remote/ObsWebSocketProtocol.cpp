#include "app/remote/ObsWebSocketProtocol.h"

#include <cmath>
#include <cstdio>

#include "app/remote/RemoteProtocol.h"
#include "common/MessagePack.h"

namespace vantry::remote::obs {
namespace {

Failure fail(std::uint16_t code, std::string reason) {
    return Failure{code, std::move(reason)};
}

// An integer field: absent when missing; `bad` set when present but not a whole number in range.
std::optional<std::int64_t> wholeNumber(const json::Object& d, std::string_view name, std::int64_t from,
                                        std::int64_t to, bool& bad) {
    const json::Value* v = json::member(d, name);
    if (!v) return std::nullopt;
    const json::Number* n = v->number();
    const auto i = n ? json::toInt64(*n) : std::nullopt;
    if (!i || *i < from || *i > to) {
        bad = true;
        return std::nullopt;
    }
    return i;
}

// A string field that must be there: absent with `failure` set otherwise.
const std::string* requiredText(const json::Object& d, std::string_view name,
                                std::optional<Failure>& failure) {
    const json::Value* v = json::member(d, name);
    if (!v) {
        failure = fail(closeCode::missingDataField, "\"" + std::string(name) + "\" is missing");
        return nullptr;
    }
    if (!v->string()) {
        failure = fail(closeCode::invalidDataFieldType, "\"" + std::string(name) + "\" is not a string");
        return nullptr;
    }
    return v->string();
}

std::optional<Failure> subscriptions(const json::Object& d, std::uint32_t& out) {
    bool bad = false;
    const auto bits = wholeNumber(d, "eventSubscriptions", 0, 0xffffffffLL, bad);
    if (bad) return fail(closeCode::invalidDataFieldType, "\"eventSubscriptions\" is not a bit mask");
    if (bits) out = std::uint32_t(*bits);
    return std::nullopt;
}

// One request, of a Request message or inside a batch (where its requestId may be left out).
std::variant<Call, Failure> call(const json::Object& d, bool idRequired) {
    std::optional<Failure> failure;
    Call out;
    const std::string* type = requiredText(d, "requestType", failure);
    if (!type) return *failure;
    out.requestType = *type;
    if (idRequired || json::member(d, "requestId")) {
        const std::string* id = requiredText(d, "requestId", failure);
        if (!id) return *failure;
        if (id->size() > kMaxRequestIdBytes)
            return fail(closeCode::invalidDataFieldValue,
                        "\"requestId\" is longer than " + std::to_string(kMaxRequestIdBytes) + " bytes");
        out.requestId = *id;
    }
    if (const json::Value* data = json::member(d, "requestData")) {
        if (data->object()) {
            out.requestData = *data->object();
        } else if (!std::holds_alternative<json::Null>(data->data)) {
            return fail(closeCode::invalidDataFieldType, "\"requestData\" is not an object");
        }
    }
    return out;
}

std::variant<Message, Failure> batch(const json::Object& d) {
    std::optional<Failure> failure;
    Batch out;
    const std::string* id = requiredText(d, "requestId", failure);
    if (!id) return *failure;
    if (id->size() > kMaxRequestIdBytes)
        return fail(closeCode::invalidDataFieldValue,
                    "\"requestId\" is longer than " + std::to_string(kMaxRequestIdBytes) + " bytes");
    out.requestId = *id;
    if (const json::Value* halt = json::member(d, "haltOnFailure")) {
        if (!halt->boolean())
            return fail(closeCode::invalidDataFieldType, "\"haltOnFailure\" is not a boolean");
        out.haltOnFailure = *halt->boolean();
    }
    bool bad = false;
    if (const auto type = wholeNumber(d, "executionType", -1, 2, bad)) out.executionType = int(*type);
    if (bad) return fail(closeCode::invalidDataFieldValue, "\"executionType\" is not -1, 0, 1 or 2");
    const json::Value* requests = json::member(d, "requests");
    if (!requests) return fail(closeCode::missingDataField, "\"requests\" is missing");
    if (!requests->array()) return fail(closeCode::invalidDataFieldType, "\"requests\" is not an array");
    if (requests->array()->size() > kMaxBatchRequests)
        return fail(closeCode::invalidDataFieldValue,
                    "a batch holds at most " + std::to_string(kMaxBatchRequests) + " requests");
    for (const json::Value& item : *requests->array()) {
        if (!item.object()) return fail(closeCode::invalidDataFieldType, "a batch request is not an object");
        auto one = call(*item.object(), false);
        if (auto* f = std::get_if<Failure>(&one)) return *f;
        out.requests.push_back(std::move(std::get<Call>(one)));
    }
    return out;
}

}  // namespace

std::variant<Message, Failure> decodeMessage(std::string_view bytes, Encoding encoding) {
    std::optional<json::Value> doc;
    if (encoding == Encoding::json) {
        doc = json::parse(bytes);
        if (!doc) return fail(closeCode::messageDecodeError, "the message is not JSON");
    } else {
        std::string why;
        doc = msgpack::decode(bytes, &why);
        if (!doc)
            return fail(closeCode::messageDecodeError,
                        "the message is not MessagePack: " + why.substr(0, 80));
    }
    const json::Object* message = doc->object();
    if (!message) return fail(closeCode::messageDecodeError, "the message is not an object");
    // The protocol before version 5 named its requests this way.
    if (json::member(*message, "request-type"))
        return fail(closeCode::unsupportedRpcVersion, "obs-websocket 4 requests are not supported");
    bool bad = false;
    const auto code = wholeNumber(*message, "op", 0, 255, bad);
    if (!code) return fail(closeCode::unknownOpCode, bad ? "\"op\" is not an op code" : "\"op\" is missing");
    const json::Value* data = json::member(*message, "d");
    if (!data) return fail(closeCode::missingDataField, "\"d\" is missing");
    const json::Object* d = data->object();
    if (!d) return fail(closeCode::invalidDataFieldType, "\"d\" is not an object");

    switch (*code) {
        case op::identify: {
            Identify out;
            const auto version = wholeNumber(*d, "rpcVersion", 0, 1000000, bad);
            if (bad) return fail(closeCode::invalidDataFieldType, "\"rpcVersion\" is not a version number");
            if (!version) return fail(closeCode::missingDataField, "\"rpcVersion\" is missing");
            out.rpcVersion = int(*version);
            if (const json::Value* auth = json::member(*d, "authentication")) {
                if (!auth->string())
                    return fail(closeCode::invalidDataFieldType, "\"authentication\" is not a string");
                out.authentication = *auth->string();
            }
            if (auto f = subscriptions(*d, out.eventSubscriptions)) return *f;
            return out;
        }
        case op::reidentify: {
            Reidentify out;
            if (auto f = subscriptions(*d, out.eventSubscriptions)) return *f;
            return out;
        }
        case op::request: {
            auto one = call(*d, true);
            if (auto* f = std::get_if<Failure>(&one)) return *f;
            return std::get<Call>(std::move(one));
        }
        case op::requestBatch:
            return batch(*d);
        default:
            break;
    }
    return fail(closeCode::unknownOpCode, "op " + std::to_string(*code) + " is not a client message");
}

std::optional<Encoding> encodingOf(std::string_view subprotocol) {
    if (subprotocol.empty() || subprotocol == kJsonSubprotocol) return Encoding::json;
    if (subprotocol == kMsgPackSubprotocol) return Encoding::msgpack;
    return std::nullopt;
}

std::string encodeMessage(int op, json::Object data, Encoding encoding) {
    json::Object message;
    message.emplace("op", integer(op));
    message.emplace("d", json::Value{std::move(data)});
    const json::Value value{std::move(message)};
    return encoding == Encoding::json ? encodeValue(value) : msgpack::encode(value);
}

json::Value text(std::string_view s) {
    return json::Value{std::string(s)};
}
json::Value number(double v) {
    return json::Value{json::Number{json::formatDouble(std::isfinite(v) ? v : 0.0)}};
}
json::Value integer(std::int64_t v) {
    return json::Value{json::Number{std::to_string(v)}};
}
json::Value boolean(bool v) {
    return json::Value{v};
}
json::Value null() {
    return json::Value{json::Null{}};
}
json::Value object(std::initializer_list<std::pair<const std::string, json::Value>> members) {
    return json::Value{json::Object(members)};
}
json::Value array(std::vector<json::Value> items) {
    return json::Value{json::Array(std::move(items))};
}

Result failure(int code, std::string comment) {
    Result r;
    r.code = code;
    r.comment = std::move(comment);
    return r;
}

json::Object responseData(const Call& call, const Result& result) {
    json::Object status{{"result", boolean(result.ok())}, {"code", integer(result.code)}};
    if (!result.ok() && !result.comment.empty()) status.emplace("comment", text(result.comment));
    json::Object d{{"requestType", text(call.requestType)},
                   {"requestId", text(call.requestId)},
                   {"requestStatus", json::Value{std::move(status)}}};
    if (result.ok() && !result.responseData.empty())
        d.emplace("responseData", json::Value{result.responseData});
    return d;
}

const std::string* stringField(const json::Object& data, std::string_view name, Result& result) {
    const json::Value* v = json::member(data, name);
    if (!v) {
        result = failure(status::missingRequestField,
                         "Your request is missing the `" + std::string(name) + "` field.");
        return nullptr;
    }
    if (!v->string()) {
        result = failure(status::invalidRequestFieldType,
                         "The field value of `" + std::string(name) + "` must be a string.");
        return nullptr;
    }
    return v->string();
}

std::optional<bool> boolField(const json::Object& data, std::string_view name, Result& result) {
    const json::Value* v = json::member(data, name);
    if (!v) {
        result = failure(status::missingRequestField,
                         "Your request is missing the `" + std::string(name) + "` field.");
        return std::nullopt;
    }
    if (!v->boolean()) {
        result = failure(status::invalidRequestFieldType,
                         "The field value of `" + std::string(name) + "` must be boolean.");
        return std::nullopt;
    }
    return *v->boolean();
}

std::optional<double> numberField(const json::Object& data, std::string_view name, double from, double to,
                                  bool required, Result& result) {
    const json::Value* v = json::member(data, name);
    if (!v) {
        if (required)
            result = failure(status::missingRequestField,
                             "Your request is missing the `" + std::string(name) + "` field.");
        return std::nullopt;
    }
    const auto d = v->number() ? json::toDouble(*v->number()) : std::nullopt;
    if (!d) {
        result = failure(status::invalidRequestFieldType,
                         "The field value of `" + std::string(name) + "` must be a number.");
        return std::nullopt;
    }
    if (*d < from || *d > to) {
        result = failure(status::requestFieldOutOfRange, "The field value of `" + std::string(name) +
                                                             "` must be from " + json::formatDouble(from) +
                                                             " to " + json::formatDouble(to) + ".");
        return std::nullopt;
    }
    return d;
}

std::string timecode(std::int64_t ms) {
    if (ms < 0) ms = 0;
    char out[32];
    std::snprintf(out, sizeof out, "%02lld:%02lld:%02lld.%03lld", static_cast<long long>(ms / 3600000),
                  static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
                  static_cast<long long>(ms % 1000));
    return out;
}

}  // namespace vantry::remote::obs
