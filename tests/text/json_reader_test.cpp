// Reading JSON documents: what parsing accepts and what each lookup yields.
#include "text/json_reader.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

using namespace Qt::StringLiterals;

TEST(JsonParse, IncompleteTextGivesNoValue) {
    EXPECT_FALSE(JsonParse(QString()).has_value());
    EXPECT_FALSE(JsonParse(u"  \r\n\t "_s).has_value());
    EXPECT_FALSE(JsonParse(u"{"_s).has_value());
    EXPECT_FALSE(JsonParse(u"{\"name\":\"Моск"_s).has_value());
    EXPECT_FALSE(JsonParse(u"[1, 2"_s).has_value());
    EXPECT_FALSE(JsonParse(u"/* only a comment */"_s).has_value());
    EXPECT_FALSE(JsonParseUtf8("").has_value());
}

TEST(JsonParse, SyntaxErrorInsideTheValueGivesNoValue) {
    EXPECT_FALSE(JsonParse(u"{\"a\":1,,\"b\":2}"_s).has_value());
    EXPECT_FALSE(JsonParse(u"{\"a\" 1}"_s).has_value());
    EXPECT_FALSE(JsonParse(u"[1 2]"_s).has_value());
    EXPECT_FALSE(JsonParse(u"]"_s).has_value());
}

TEST(JsonParse, WhateverFollowsACompleteValueIsIgnored) {
    const auto object = JsonParse(u"{\"id\": 5}]"_s);
    ASSERT_TRUE(object.has_value());
    EXPECT_EQ(JsonMemberText(&*object, "id"), u"5"_s);

    const auto array = JsonParse(u"[1,2] and then {broken"_s);
    ASSERT_TRUE(array.has_value());
    ASSERT_NE(JsonAsArray(&*array), nullptr);
    EXPECT_EQ(JsonCount(*array), 2u);

    const auto twoObjects = JsonParse(u"{\"a\":1}{\"a\":2}"_s);
    ASSERT_TRUE(twoObjects.has_value());
    EXPECT_EQ(JsonMemberText(&*twoObjects, "a"), u"1"_s);
}

TEST(JsonParse, CommentsAreSkipped) {
    const auto value =
        JsonParse(u"// list\n/* the\n data */ {\"a\": /* one */ 1, // b\n \"b\": 2}"_s);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(JsonMemberText(&*value, "a"), u"1"_s);
    EXPECT_EQ(JsonMemberText(&*value, "b"), u"2"_s);
}

TEST(JsonParse, TextAndUtf8GiveTheSameStrings) {
    const QString text = u"{\"name\":\"Москва \\u0416 \\\"q\\\" \\\\ \\/ a\\tb\\n\"}"_s;
    const QString expected = u"Москва Ж \"q\" \\ / a\tb\n"_s;
    const auto fromText = JsonParse(text);
    ASSERT_TRUE(fromText.has_value());
    EXPECT_EQ(JsonMemberText(&*fromText, "name"), expected);
    const QByteArray utf8 = text.toUtf8();
    const auto fromUtf8 = JsonParseUtf8(std::string_view(utf8.constData(), utf8.size()));
    ASSERT_TRUE(fromUtf8.has_value());
    EXPECT_EQ(JsonMemberText(&*fromUtf8, "name"), expected);
}

TEST(JsonMemberText, EachKindOfValue) {
    const auto doc = JsonParse(uR"({
        "int": 12, "neg": -7, "str": "12", "nul": null, "yes": true, "no": false,
        "float": 1.5, "big": 12345678901234567890, "empty": "",
        "obj": { "x" : [ 1, 2 ], "y" : "Ж" },
        "arr": [ 1, "two", null, { } ],
        "esc": { "k\"ey": "a\\b\n", "z": { "": [] } }
    })"_s);
    ASSERT_TRUE(doc.has_value());
    const JsonValue* v = &*doc;
    EXPECT_EQ(JsonMemberText(v, "int"), u"12"_s);
    EXPECT_EQ(JsonMemberText(v, "neg"), u"-7"_s);
    EXPECT_EQ(JsonMemberText(v, "str"), u"12"_s);
    EXPECT_EQ(JsonMemberText(v, "nul"), u"null"_s);
    EXPECT_EQ(JsonMemberText(v, "absent"), QString());
    EXPECT_EQ(JsonMemberText(v, "yes"), u"true"_s);
    EXPECT_EQ(JsonMemberText(v, "no"), u"false"_s);
    EXPECT_EQ(JsonMemberText(v, "float"), u"1.5"_s);
    EXPECT_EQ(JsonMemberText(v, "big"), u"12345678901234567890"_s);
    EXPECT_EQ(JsonMemberText(v, "empty"), QString());
    // Objects and arrays as compact JSON.
    EXPECT_EQ(JsonMemberText(v, "obj"), u"{\"x\":[1,2],\"y\":\"Ж\"}"_s);
    EXPECT_EQ(JsonMemberText(v, "arr"), u"[1,\"two\",null,{}]"_s);
    EXPECT_EQ(JsonMemberText(v, "esc"), uR"({"k\"ey":"a\\b\n","z":{"":[]}})"_s);
    // Names match exactly.
    EXPECT_EQ(JsonMemberText(v, "INT"), QString());
}

TEST(JsonMemberText, DeeplyNestedValueDoesNotCrash) {
    // A hostile response: one member nested far deeper than any real data.
    const int depth = 200000;
    std::string text = "{\"id\":";
    text.append(depth, '[');
    text.append(depth, ']');
    text += ",\"slug\":\"x\"}";
    const auto doc = JsonParseUtf8(text);
    ASSERT_TRUE(doc.has_value());
    EXPECT_EQ(JsonMemberText(&*doc, "slug"), u"x"_s);
    const QString id = JsonMemberText(&*doc, "id");
    ASSERT_EQ(id.size(), 2 * depth);
    EXPECT_TRUE(id.startsWith(u"[[[["_s));
    EXPECT_TRUE(id.endsWith(u"]]]]"_s));
}

TEST(JsonMember, NullIsAValueAbsentIsNot) {
    const auto doc = JsonParse(u"{\"region\": null, \"city\": {\"name\": \"Тула\"}}"_s);
    ASSERT_TRUE(doc.has_value());
    const JsonValue* region = JsonMember(&*doc, "region");
    ASSERT_NE(region, nullptr);
    EXPECT_TRUE(region->is_null());
    EXPECT_EQ(JsonMemberText(region, "name"), QString());
    EXPECT_EQ(JsonMember(&*doc, "country"), nullptr);
    EXPECT_EQ(JsonMemberText(JsonMember(&*doc, "city"), "name"), u"Тула"_s);

    // Member of no value, of an array, of a string: no value.
    EXPECT_EQ(JsonMember(nullptr, "name"), nullptr);
    EXPECT_EQ(JsonMemberText(nullptr, "name"), QString());
    const auto array = JsonParse(u"[{\"name\":\"a\"}]"_s);
    ASSERT_TRUE(array.has_value());
    EXPECT_EQ(JsonMember(&*array, "name"), nullptr);
    const auto string = JsonParse(u"\"name\""_s);
    ASSERT_TRUE(string.has_value());
    EXPECT_EQ(JsonMember(&*string, "name"), nullptr);
}

TEST(JsonAsArray, OnlyArraysAreArrays) {
    const auto doc = JsonParse(u"{\"o\":{}, \"s\":\"[1]\", \"n\":null, \"num\": 3, \"e\":[]}"_s);
    ASSERT_TRUE(doc.has_value());
    EXPECT_EQ(JsonAsArray(&*doc), nullptr);
    EXPECT_EQ(JsonAsArray(JsonMember(&*doc, "o")), nullptr);
    EXPECT_EQ(JsonAsArray(JsonMember(&*doc, "s")), nullptr);
    EXPECT_EQ(JsonAsArray(JsonMember(&*doc, "n")), nullptr);
    EXPECT_EQ(JsonAsArray(JsonMember(&*doc, "num")), nullptr);
    EXPECT_EQ(JsonAsArray(JsonMember(&*doc, "absent")), nullptr);
    EXPECT_EQ(JsonAsArray(nullptr), nullptr);
    const JsonValue* empty = JsonAsArray(JsonMember(&*doc, "e"));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(JsonCount(*empty), 0u);
    EXPECT_EQ(JsonElement(*empty, 0), nullptr);
}

TEST(JsonElement, ElementsAndTheirMembers) {
    const auto doc =
        JsonParse(u"{\"resources\":[{\"slug\":\"ivanov\"}, null, \"slug\", 7, [\"slug\"]]}"_s);
    ASSERT_TRUE(doc.has_value());
    const JsonValue* list = JsonAsArray(JsonMember(&*doc, "resources"));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(JsonCount(*list), 5u);
    EXPECT_EQ(JsonMemberText(JsonElement(*list, 0), "slug"), u"ivanov"_s);
    const JsonValue* nullElement = JsonElement(*list, 1);
    ASSERT_NE(nullElement, nullptr);
    EXPECT_TRUE(nullElement->is_null());
    // Elements that are not objects have no members, whatever the name.
    for (std::size_t i = 1; i < 5; ++i) {
        EXPECT_EQ(JsonMemberText(JsonElement(*list, i), "slug"), QString()) << i;
        EXPECT_EQ(JsonMemberText(JsonElement(*list, i), "id"), QString()) << i;
    }
    EXPECT_EQ(JsonText(JsonElement(*list, 2)), u"slug"_s);
    EXPECT_EQ(JsonElement(*list, 5), nullptr);
    EXPECT_EQ(JsonElement(*list, 1000), nullptr);
}
