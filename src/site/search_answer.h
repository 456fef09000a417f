#pragma once
// Reading the search API's answers: the slug of every element of the
// "resources" array, straight from the text, without building the document
// (an answer may be large and hostile).

#include "text/json_reader.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Texts of the elements of an array, one per element in order, consecutive
// equal texts stored once with the number of elements that have them.
struct JsonTextRuns {
    struct Run {
        std::size_t end;   // the text is texts[end of the previous run, end)
        std::size_t count; // elements with this text, at least 1
    };
    std::string texts; // UTF-8
    std::vector<Run> runs;

    std::string_view Text(std::size_t run) const {
        const std::size_t begin = run == 0 ? 0 : runs[run - 1].end;
        return std::string_view(texts).substr(begin, runs[run].end - begin);
    }
    std::size_t ElementCount() const;
};

// For the array in member `arrayName` of the root object of the first JSON
// value of `utf8`: JsonMemberText(element, memberName) of each element, as
// UTF-8, read straight from the text without building the document, in
// memory a small multiple of the text whatever its shape. No value where
// JsonParseUtf8 would give none, or when the root is not an object, lacks the
// member or holds no array in it. Of duplicate names the last counts, as in
// the document.
std::optional<JsonTextRuns> JsonArrayMemberTexts(std::string_view utf8, std::string_view arrayName,
                                                 std::string_view memberName);
