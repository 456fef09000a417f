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

// JsonArrayMemberTexts against the document: for each response, the texts
// the document gives for "slug" of every element of "resources", or no value
// where the document has no such array.
namespace {

std::optional<std::vector<QString>> DocumentSlugs(std::string_view utf8) {
    const std::optional<JsonValue> doc = JsonParseUtf8(utf8);
    if (!doc)
        return std::nullopt;
    const JsonValue* array = JsonAsArray(JsonMember(&*doc, "resources"));
    if (array == nullptr)
        return std::nullopt;
    std::vector<QString> slugs;
    for (std::size_t i = 0; i < JsonCount(*array); ++i)
        slugs.push_back(JsonMemberText(JsonElement(*array, i), "slug"));
    return slugs;
}

// Deep and wide hostile shapes, built the same way on every run.
std::string DeepSlug(int depth) {
    // Each level an object whose members come in reverse order, the deeper
    // value last, inside an array every third level.
    std::string open;
    std::string close;
    for (int i = 0; i < depth; ++i) {
        open += i % 3 == 2 ? "[1,{\"b\":0,\"a\":" : "{\"b\":" + std::to_string(i) + ",\"a\":";
        close.insert(0, i % 3 == 2 ? "}]" : "}");
    }
    return "{\"resources\":[{\"slug\":" + open + "null" + close + "}]}";
}

std::string WideSlug(int members) {
    // Many names, most of them repeated, in a scrambled order.
    std::string object = "{";
    unsigned state = 12345;
    for (int i = 0; i < members; ++i) {
        state = state * 1103515245u + 12345u;
        object +=
            (i ? ",\"k" : "\"k") + std::to_string((state >> 16) % 300) + "\":" + std::to_string(i);
    }
    return "{\"resources\":[{\"slug\":" + object + "},\"id\":1}]}";
}

std::string ManyElements(int count) {
    std::string text = "{\"resources\":[";
    for (int i = 0; i < count; ++i)
        text += i % 7 == 3 ? "{\"slug\":\"s\"}," : i % 5 == 0 ? "null," : "{},";
    return text + "{}]}";
}

// A response and a short name for failure messages.
struct Response {
    const char* name;
    std::string text;
};

void PrintTo(const Response& response, std::ostream* os) {
    *os << response.name;
}

class SlugTexts : public testing::TestWithParam<Response> {};

} // namespace

TEST_P(SlugTexts, AgreeWithTheDocument) {
    const std::string& text = GetParam().text;
    const std::optional<std::vector<QString>> expected = DocumentSlugs(text);
    const std::optional<JsonTextRuns> runs = JsonArrayMemberTexts(text, "resources", "slug");
    ASSERT_EQ(runs.has_value(), expected.has_value());
    if (!runs)
        return;
    std::vector<QString> slugs;
    for (std::size_t run = 0; run < runs->runs.size(); ++run) {
        const std::string_view slug = runs->Text(run);
        slugs.insert(slugs.end(), runs->runs[run].count,
                     QString::fromUtf8(slug.data(), static_cast<qsizetype>(slug.size())));
        // Equal neighbours are one run.
        EXPECT_TRUE(run == 0 || runs->Text(run - 1) != slug) << run;
    }
    EXPECT_EQ(runs->ElementCount(), slugs.size());
    ASSERT_EQ(slugs.size(), expected->size());
    for (std::size_t i = 0; i < slugs.size(); ++i)
        EXPECT_EQ(slugs[i].toStdString(), (*expected)[i].toStdString()) << "element " << i;
}

INSTANTIATE_TEST_SUITE_P(
    JsonArrayMemberTexts, SlugTexts,
    testing::Values(
        Response{"plain", R"({"resources":[{"slug":"a"},{"slug":"b"},{"id":1}]})"},
        Response{"empty array", R"({"resources":[]})"},
        // Of duplicate names the last counts, whatever the earlier one held.
        Response{"array twice", R"({"resources":[{"slug":"a"}],"resources":[{"slug":"b"},{}]})"},
        Response{"array then null", R"({"resources":[{"slug":"a"}],"resources":null})"},
        Response{"number then array",
                 R"({"resources":7,"x":[1],"resources":[{"slug":"x"}],"y":{"resources":5}})"},
        // Values after the array at the depths of its elements and members.
        Response{"containers after the array",
                 R"({"resources":[{"slug":"a"},{"slug":[]}],"":{"":[1,{"k":2},"s"],)"
                 R"("x":[[{"slug":"z"}],{"slug":{"q":1}}]},"z":[{"slug":"w"}]})"},
        Response{"slug twice", R"({"resources":[{"slug":"a","slug":"b"},)"
                               R"({"slug":{"x":1},"id":2,"slug":3},{"slug":"a","slug":[1,2]},)"
                               R"({"slug":[{"a":1}],"slug":"c"}]})"},
        // Not an array, not at the root, not an object at the root.
        Response{"object", R"({"resources":{"slug":"a"}})"},
        Response{"nested", R"({"x":{"resources":[{"slug":"b"}]}})"},
        Response{"root array", R"([{"resources":[{"slug":"a"}]}])"},
        Response{"root string", R"("resources")"}, Response{"empty", ""}, Response{"blank", "  \n"},
        Response{"comment only", "/* only */"},
        // Elements that are not objects, slugs that are not where they are read.
        Response{"element kinds", R"({"resources":[null,1,"s",[{"slug":"in"}],true,)"
                                  R"({"slug":null},{},{"x":{"slug":"d"}}]})"},
        // Numbers and literals as the document writes them.
        Response{"numbers",
                 R"({"resources":[{"slug":12},{"slug":-7},{"slug":18446744073709551615},)"
                 R"({"slug":1.5},{"slug":1e5},{"slug":1E15},{"slug":1e16},{"slug":-0.0},)"
                 R"({"slug":0.1e1},{"slug":1e-7},{"slug":-9223372036854775808},)"
                 R"({"slug":123456789012345678901234567890},{"slug":true},{"slug":false},)"
                 R"({"slug":null},{"slug":-0}]})"},
        Response{"string escapes",
                 R"({"resources":[{"slug":"a\"b\\c\/d\u0000e\u00e9\ud83d\ude00\n\u001f"}]})"},
        // Nested values: names sorted bytewise, escapes decoded for the order.
        Response{"unsorted names", R"({"resources":[{"slug":{"b":1,"a":{"z":[1,{"y":2,"x":3}],)"
                                   R"("c":null},"b":2,"":"e"}}]})"},
        Response{"escaped names",
                 R"({"resources":[{"slug":{"A":1,"\n":2,"\u0001":3,"\"":4,"\\":5,"é":6,"a":7,)"
                 R"("ab":8,"a\u0000":9,"\u007f":10,"/":11,"я":12,"\t":13,"\b":14,"\f":15,"\r":16,)"
                 R"("\u001F":17}}]})"},
        Response{"long names",
                 R"({"resources":[{"slug":{"abcdefghij":1,"abcdefgh":2,"abcdefghi":3,)"
                 R"("abcdefgh\u0000":4,"abcdefghia":5,"abcdefg":6,"abcdefgh":7,"abcdefghij":8,)"
                 R"("abcdefgé":9,"abcdefghé":10,"\u0000":11,"":12}}]})"},
        Response{"arrays of objects", R"({"resources":[{"slug":[{"b":1,"a":2},[],{},)"
                                      R"([{"d":{"c":1,"b":{}}}],"x\"y",2.50]}]})"},
        Response{"duplicate names", R"({"resources":[{"slug":{"k":{"b":1},"k":{"a":2},"j":[],)"
                                    R"("k":{"c":[{"z":1,"z":2}]}}}]})"},
        Response{"escaped member names",
                 R"({"res\u006furces":[{"sl\u0075g":"x"},{"slug":{"\u0062":1,"a":2}}]})"},
        // Equal neighbours, also when only their sorted text is equal.
        Response{"equal neighbours",
                 R"({"resources":[{},{},null,{"slug":""},{"slug":"a"},{"slug":"a"},)"
                 R"({"slug":{"b":1,"a":1}},{"slug":{"a":1,"b":1}},{"slug":"{\"a\":1,\"b\":1}"}]})"},
        // Comments, trailing text, broken and incomplete documents.
        Response{"comments",
                 "// c\n{\"resources\": /* x */ [ {\"slug\" : /* y */ \"a\"} // z\n ]}"},
        Response{"trailing text", R"({"resources":[{"slug":"a"}]} ]]] {"resources":[]})"},
        Response{"cut after the array", R"({"resources":[{"slug":"a"}])"},
        Response{"cut in a slug", R"({"resources":[{"slug":"a")"},
        Response{"error after the array", R"({"resources":[{"slug":"a"}],"x":tru})"},
        Response{"error in a slug", R"({"resources":[{"slug":{"a":1,}}]})"},
        Response{"number overflow", R"({"resources":[{"slug":1e400}]})"},
        Response{"lone surrogate", R"({"resources":[{"slug":"\ud800"}]})"},
        Response{"invalid UTF-8", "{\"resources\":[{\"slug\":\"a\xff\"}]}"},
        // Hostile shapes.
        Response{"deep slug", DeepSlug(3000)}, Response{"wide slug", WideSlug(5000)},
        Response{"many elements", ManyElements(20000)}));
