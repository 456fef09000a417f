#include "site/search_answer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

std::size_t JsonTextRuns::ElementCount() const {
    std::size_t count = 0;
    for (const Run& run : runs)
        count += run.count;
    return count;
}

namespace {

// Compact JSON of one object or array given as parse events: the text
// CompactJson writes for it (object members in the bytewise order of their
// names, of duplicate names the last one, as the document keeps them), made
// without building the document.
//
// The text goes into one buffer in the order it arrives. Before each member
// of an object stands a jump: the byte kJump and the 8-byte position where
// the text goes on, at first the position right after it. When an object is
// closed its members are sorted by name, duplicates dropped, and the jumps
// relinked to visit the members in that order; no text is moved, however
// deeply objects nest. AppendTo follows the jumps. JSON text never holds
// kJump: the serializer escapes every control character.
class SortedJsonWriter {
public:
    // True from the first Open until the outermost container is closed.
    bool Active() const { return !kinds_.empty(); }

    void Clear() {
        text_.clear();
        kinds_.clear();
        members_.clear();
        objects_.clear();
    }

    void Open(bool object) {
        BeforeValue();
        text_ += object ? '{' : '[';
        kinds_ += object ? '{' : '[';
        if (object)
            objects_.push_back(members_.size());
    }

    void Key(const std::string& name) {
        AppendJump();
        // Every member starts with its comma; the first in order is entered
        // past it.
        members_.push_back(text_.size());
        text_ += ',';
        text_ += ScalarJson(JsonValue(name));
        text_ += ':';
    }

    void Scalar(const JsonValue& value) {
        BeforeValue();
        text_ += ScalarJson(value);
    }

    void Close() {
        const char kind = kinds_.back();
        kinds_.pop_back();
        if (kind == '[') {
            text_ += ']';
            return;
        }
        const std::size_t first = objects_.back();
        objects_.pop_back();
        const std::size_t count = members_.size() - first;
        if (count == 0) {
            text_ += '}';
            return;
        }
        // member[i]: where the i-th member written begins. The jump before
        // member[i] ends member[i - 1] (for i = 0 it follows the "{").
        const std::size_t* member = members_.data() + first;
        // Sorted by name, equal names in written order. The first bytes of
        // each name, read once, decide most comparisons without going back to
        // the text.
        order_.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            order_[i] = NamePrefix(member[i], i);
        const auto compare = [&](const Entry& a, const Entry& b) {
            if (a.prefix != b.prefix)
                return a.prefix < b.prefix ? -1 : 1;
            if (a.size <= 8 && b.size <= 8)
                return a.size == b.size ? 0 : a.size < b.size ? -1 : 1;
            return NameCompare(member[a.index], member[b.index]);
        };
        std::sort(order_.begin(), order_.end(), [&](const Entry& a, const Entry& b) {
            const int c = compare(a, b);
            return c != 0 ? c < 0 : a.index < b.index;
        });
        // Of equal names keep the last written.
        std::size_t kept = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (i + 1 == count || compare(order_[i], order_[i + 1]) != 0)
                order_[kept++] = order_[i];
        }
        // In place: sorted as written, nothing dropped (a dropped member has
        // a later one of its name among the kept).
        bool inPlace = true;
        for (std::size_t i = 0; inPlace && i < kept; ++i)
            inPlace = order_[i].index == i;
        if (!inPlace)
            AppendJump(); // ends the last member written
        const std::size_t close = text_.size();
        text_ += '}';

        SetJump(member[0] - kJumpSize, member[order_[0].index] + 1);
        if (!inPlace) {
            for (std::size_t j = 0; j < kept; ++j) {
                const std::size_t i = order_[j].index;
                const std::size_t jump = (i + 1 < count ? member[i + 1] : close) - kJumpSize;
                SetJump(jump, j + 1 < kept ? member[order_[j + 1].index] : close);
            }
        }
        members_.resize(first);
    }

    // The text, once the outermost container is closed.
    void AppendTo(std::string& out) const {
        std::size_t pos = 0;
        const std::size_t end = text_.size();
        while (pos < end) {
            const void* jump = std::memchr(text_.data() + pos, kJump, end - pos);
            if (jump == nullptr) {
                out.append(text_, pos, end - pos);
                return;
            }
            const std::size_t at =
                static_cast<std::size_t>(static_cast<const char*>(jump) - text_.data());
            out.append(text_, pos, at - pos);
            std::memcpy(&pos, text_.data() + at + 1, sizeof pos);
        }
    }

private:
    static constexpr char kJump = '\x01';
    static constexpr std::size_t kJumpSize = 1 + sizeof(std::size_t);

    void BeforeValue() {
        if (!kinds_.empty() && kinds_.back() == '[' && text_.back() != '[')
            text_ += ',';
    }

    void AppendJump() {
        const std::size_t next = text_.size() + kJumpSize;
        text_ += kJump;
        text_.append(reinterpret_cast<const char*>(&next), sizeof next);
    }

    void SetJump(std::size_t jump, std::size_t target) {
        std::memcpy(text_.data() + jump + 1, &target, sizeof target);
    }

    // The next byte of a name as the serializer wrote it, escapes decoded;
    // -1 at its closing quote.
    int NameByte(std::size_t& pos) const {
        const auto c = static_cast<unsigned char>(text_[pos]);
        if (c == '"')
            return -1;
        ++pos;
        if (c != '\\')
            return c;
        const char escaped = text_[pos++];
        switch (escaped) {
        case 'b':
            return '\b';
        case 'f':
            return '\f';
        case 'n':
            return '\n';
        case 'r':
            return '\r';
        case 't':
            return '\t';
        case 'u': { // "\u00XX", written only for the other control characters
            const auto hex = [](char h) { return h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10; };
            const int value = hex(text_[pos + 2]) * 16 + hex(text_[pos + 3]);
            pos += 4;
            return value;
        }
        default: // '"' and '\\'
            return static_cast<unsigned char>(escaped);
        }
    }

    // The names of the members that begin at a and b, compared bytewise as
    // std::string compares them: negative, zero or positive.
    int NameCompare(std::size_t a, std::size_t b) const {
        a += 2; // past the comma and the opening quote
        b += 2;
        for (;;) {
            const int x = NameByte(a);
            const int y = NameByte(b);
            if (x != y)
                return x < y ? -1 : 1;
            if (x < 0)
                return 0;
        }
    }

    struct Entry {
        std::uint64_t prefix; // the name's first 8 bytes, big-endian, zeros after its end
        std::size_t index;    // in written order
        std::uint8_t size;    // the name's length, 9 for more than 8
    };

    // Where two prefixes differ the names compare the same way; where they
    // are equal and both names short, their lengths decide.
    Entry NamePrefix(std::size_t at, std::size_t index) const {
        at += 2; // past the comma and the opening quote
        std::uint64_t prefix = 0;
        int size = 0;
        for (int c; size < 9 && (c = NameByte(at)) >= 0; ++size) {
            if (size < 8)
                prefix = prefix << 8 | static_cast<std::uint64_t>(c);
        }
        if (size > 0 && size < 8)
            prefix <<= 8 * (8 - size);
        return {prefix, index, static_cast<std::uint8_t>(size)};
    }

    std::string text_;
    std::string kinds_;                // '{' or '[' for each open container
    std::vector<std::size_t> members_; // where each member of the open objects begins
    std::vector<std::size_t> objects_; // each open object's first entry in members_
    std::vector<Entry> order_;         // scratch of Close
};

// SAX reader of JsonArrayMemberTexts. Depth 0 is the root value, 1 the root's
// members, 2 the array's elements, 3 the elements' members; below that only
// the wanted member's value is followed, by the writer.
class ArrayMemberTextsReader {
public:
    ArrayMemberTextsReader(std::string_view arrayName, std::string_view memberName)
        : arrayName_(arrayName), memberName_(memberName) {}

    bool null() {
        return Scalar([] { return JsonValue(nullptr); });
    }
    bool boolean(bool value) {
        return Scalar([value] { return JsonValue(value); });
    }
    bool number_integer(JsonValue::number_integer_t value) {
        return Scalar([value] { return JsonValue(value); });
    }
    bool number_unsigned(JsonValue::number_unsigned_t value) {
        return Scalar([value] { return JsonValue(value); });
    }
    bool number_float(JsonValue::number_float_t value, const std::string& /*text*/) {
        return Scalar([value] { return JsonValue(value); });
    }
    bool string(std::string& value) {
        if (depth_ == 3 && memberNext_) {
            // The member's text is the string itself: no value to build.
            result_.texts.resize(elementBegin_);
            result_.texts += value;
            return true;
        }
        return Scalar([&value] { return JsonValue(std::move(value)); });
    }
    bool binary(JsonValue::binary_t& /*value*/) { return true; } // not in JSON text
    bool start_object(std::size_t /*elements*/) { return Open(true); }
    bool start_array(std::size_t /*elements*/) { return Open(false); }
    bool end_object() { return Close(); }
    bool end_array() { return Close(); }
    bool parse_error(std::size_t /*position*/, const std::string& /*token*/,
                     const nlohmann::detail::exception& /*error*/) {
        return false;
    }

    bool key(std::string& name) {
        if (depth_ == 1) {
            // A later member of the same name replaces an earlier one.
            arrayNext_ = name == arrayName_;
            if (arrayNext_) {
                result_.texts.clear();
                result_.runs.clear();
                found_ = false;
            }
        } else if (depth_ == 3) {
            memberNext_ = inElement_ && name == memberName_;
        } else if (writer_.Active()) {
            writer_.Key(name);
        }
        return true;
    }

    std::optional<JsonTextRuns> Result() && {
        if (!found_)
            return std::nullopt;
        return std::move(result_);
    }

private:
    template <class MakeValue> bool Scalar(MakeValue make) {
        switch (depth_) {
        case 0:
            return false; // the root is not an object: nothing to read
        case 1:
            break; // the array's member holding a scalar: found_ stays false
        case 2:
            if (inArray_) {
                elementBegin_ = result_.texts.size();
                EndElement();
            }
            break;
        case 3:
            if (memberNext_) {
                const JsonValue value = make();
                result_.texts.resize(elementBegin_);
                if (value.is_string())
                    result_.texts += value.get_ref<const std::string&>();
                else
                    result_.texts += ScalarJson(value);
            }
            break;
        default:
            if (writer_.Active())
                writer_.Scalar(make());
            break;
        }
        return true;
    }

    bool Open(bool object) {
        switch (depth_) {
        case 0:
            if (!object)
                return false;
            break;
        case 1:
            if (arrayNext_) {
                found_ = !object;
                inArray_ = found_;
            }
            break;
        case 2:
            if (inArray_) {
                elementBegin_ = result_.texts.size();
                inElement_ = object;
                memberNext_ = false;
                if (!object)
                    EndElement();
            }
            break;
        case 3:
            if (memberNext_) {
                result_.texts.resize(elementBegin_);
                writer_.Clear();
                writer_.Open(object);
            }
            break;
        default:
            if (writer_.Active())
                writer_.Open(object);
            break;
        }
        ++depth_;
        return true;
    }

    bool Close() {
        --depth_;
        if (depth_ == 1) {
            inArray_ = false;
        } else if (depth_ == 2) {
            if (inElement_) {
                // The element's members end here: a value at member depth
                // later (in a root member after the array) is not one.
                inElement_ = false;
                memberNext_ = false;
                EndElement();
            }
        } else if (depth_ >= 3 && writer_.Active()) {
            writer_.Close();
            if (depth_ == 3)
                writer_.AppendTo(result_.texts);
        }
        return true;
    }

    // The element's text is texts[elementBegin_, end); an element with the
    // same text as the one before only counts.
    void EndElement() {
        std::vector<JsonTextRuns::Run>& runs = result_.runs;
        const std::string_view texts(result_.texts);
        if (!runs.empty() && result_.Text(runs.size() - 1) == texts.substr(elementBegin_)) {
            result_.texts.resize(elementBegin_);
            ++runs.back().count;
            return;
        }
        runs.push_back({result_.texts.size(), 1});
    }

    std::string_view arrayName_;
    std::string_view memberName_;
    std::size_t depth_ = 0;
    bool arrayNext_ = false;  // the root member being read is arrayName_
    bool found_ = false;      // the last arrayName_ member holds an array
    bool inArray_ = false;    // inside that array
    bool inElement_ = false;  // inside an element that is an object
    bool memberNext_ = false; // the element member being read is memberName_
    std::size_t elementBegin_ = 0;
    SortedJsonWriter writer_;
    JsonTextRuns result_;
};

} // namespace

std::optional<JsonTextRuns> JsonArrayMemberTexts(std::string_view utf8, std::string_view arrayName,
                                                 std::string_view memberName) {
    ArrayMemberTextsReader reader(arrayName, memberName);
    const bool ok = JsonValue::sax_parse(utf8.begin(), utf8.end(), &reader,
                                         nlohmann::detail::input_format_t::json,
                                         /*strict=*/false, /*ignore_comments=*/true);
    if (!ok)
        return std::nullopt;
    return std::move(reader).Result();
}
