// MessagePack both ways: every form a client's encoder may choose reads as the JSON value it
// stands for, what the writer makes reads back the same, and hostile bytes are refused without
// allocating what they claim.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "common/Json.h"
#include "common/MessagePack.h"

namespace vantry {
namespace {

std::string bytes(std::initializer_list<int> list) {
    std::string out;
    for (int b : list) out += char(b);
    return out;
}

std::string jsonOf(const json::Value& v) {
    json::Writer w(false);
    std::function<void(const json::Value&)> put = [&](const json::Value& x) {
        if (x.object()) {
            w.beginObject();
            for (const auto& [k, m] : *x.object()) {
                w.key(k);
                put(m);
            }
            w.endObject();
        } else if (x.array()) {
            w.beginArray();
            for (const auto& m : *x.array()) put(m);
            w.endArray();
        } else if (x.string()) {
            w.string(*x.string());
        } else if (x.number()) {
            w.rawNumber(x.number()->text);
        } else if (x.boolean()) {
            w.boolean(*x.boolean());
        } else {
            w.null();
        }
    };
    put(v);
    return w.finish();
}

TEST(MessagePack, EveryFormReadsAsItsValue) {
    const struct {
        std::string in;
        const char* json;
    } cases[] = {
        {bytes({0xc0}), "null"},
        {bytes({0xc2}), "false"},
        {bytes({0xc3}), "true"},
        {bytes({0x7f}), "127"},
        {bytes({0xff}), "-1"},
        {bytes({0xe0}), "-32"},
        {bytes({0xcc, 0xff}), "255"},
        {bytes({0xcd, 0x01, 0x00}), "256"},
        {bytes({0xce, 0x00, 0x01, 0x00, 0x00}), "65536"},
        {bytes({0xcf, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}), "18446744073709551615"},
        {bytes({0xd0, 0x80}), "-128"},
        {bytes({0xd1, 0xff, 0x7f}), "-129"},
        {bytes({0xd2, 0xff, 0xff, 0xff, 0xff}), "-1"},
        {bytes({0xd3, 0x80, 0, 0, 0, 0, 0, 0, 0}), "-9223372036854775808"},
        {bytes({0xca, 0x3f, 0xc0, 0x00, 0x00}), "1.5"},
        {bytes({0xcb, 0x3f, 0xf8, 0, 0, 0, 0, 0, 0}), "1.5"},
        {bytes({0xa2, 'h', 'i'}), "\"hi\""},
        {bytes({0xd9, 0x02, 'h', 'i'}), "\"hi\""},
        {bytes({0xda, 0x00, 0x02, 'h', 'i'}), "\"hi\""},
        {bytes({0xdb, 0, 0, 0, 0x02, 'h', 'i'}), "\"hi\""},
        {bytes({0x92, 0x01, 0xa1, 'x'}), "[1,\"x\"]"},
        {bytes({0xdc, 0x00, 0x01, 0xc0}), "[null]"},
        {bytes({0xdd, 0, 0, 0, 0x01, 0xc3}), "[true]"},
        {bytes({0x81, 0xa2, 'o', 'p', 0x06}), "{\"op\":6}"},
        {bytes({0xde, 0x00, 0x01, 0xa1, 'd', 0x80}), "{\"d\":{}}"},
        {bytes({0xdf, 0, 0, 0, 0x01, 0xd9, 0x01, 'k', 0x90}), "{\"k\":[]}"},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto v = msgpack::decode(c.in, &error);
        ASSERT_TRUE(v) << c.json << ": " << error;
        EXPECT_EQ(jsonOf(*v), c.json);
    }
}

TEST(MessagePack, HostileBytesAreRefusedWithAReason) {
    std::string deep(json::kMaxDepth + 1, char(0x91));
    deep += char(0xc0);
    const struct {
        std::string in;
        const char* why;
    } cases[] = {
        {"", "cut short"},
        {bytes({0xcd, 0x01}), "cut short"},
        {bytes({0xa3, 'a'}), "longer than the message"},
        {bytes({0xdb, 0xff, 0xff, 0xff, 0xff}), "longer than the message"},
        {bytes({0xdd, 0xff, 0xff, 0xff, 0xff}), "an array longer than the message"},
        {bytes({0xdf, 0xff, 0xff, 0xff, 0xff}), "a map longer than the message"},
        {bytes({0x81, 0x01, 0x02}), "not a string"},
        {bytes({0xa2, 0xc3, 0x28}), "not UTF-8"},
        {bytes({0xc4, 0x01, 0x00}), "unsupported type 0xc4"},
        {bytes({0xd4, 0x01, 0x00}), "unsupported type 0xd4"},
        {bytes({0xc1}), "unsupported type 0xc1"},
        {bytes({0xcb, 0x7f, 0xf0, 0, 0, 0, 0, 0, 0}), "not finite"},
        {bytes({0xca, 0x7f, 0xc0, 0x00, 0x00}), "not finite"},
        {bytes({0xc0, 0xc0}), "bytes after the value"},
        {deep, "nested too deep"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(msgpack::decode(c.in, &error)) << c.why;
        EXPECT_NE(error.find(c.why), std::string::npos) << error;
    }
}

TEST(MessagePack, WhatIsWrittenReadsBackTheSame) {
    const char* documents[] = {
        R"({"op":7,"d":{"requestId":"1","requestStatus":{"code":100,"result":true},"list":[0,127,128,255,256,65535,65536,4294967295,4294967296,-1,-32,-33,-128,-129,-32768,-32769,-2147483648,-2147483649,9223372036854775807,-9223372036854775808]}})",
        R"({"f":[1.5,-0.25,1e+300,0.1],"s":"Cam 1 · Desk","e":"","n":null,"b":[true,false]})",
    };
    for (const char* document : documents) {
        const auto value = json::parse(document);
        ASSERT_TRUE(value);
        const auto back = msgpack::decode(msgpack::encode(*value));
        ASSERT_TRUE(back) << document;
        EXPECT_EQ(jsonOf(*back), jsonOf(*value));
    }
    // Long strings, arrays and maps take their wider length forms.
    json::Array many(70000, json::Value{json::Null{}});
    json::Object wide;
    for (int i = 0; i < 20; ++i) wide.emplace("k" + std::to_string(i), json::Value{std::string(300, 'x')});
    const json::Value big{json::Object{{"many", json::Value{many}}, {"wide", json::Value{wide}}}};
    const auto back = msgpack::decode(msgpack::encode(big));
    ASSERT_TRUE(back);
    EXPECT_EQ(jsonOf(*back), jsonOf(big));
    EXPECT_THROW(msgpack::encode(json::Value{std::string("\xc3\x28")}), json::EncodingError);
}

}  // namespace
}  // namespace vantry
