#include "app/message_format.h"

#include "common/display_text.h"

namespace {

struct Sequence {
    enum class Kind { Percent, String, Integer, Unknown };
    Kind kind;
    std::size_t length;  // characters from the % on
    std::size_t width = 0;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The % sequence at the start of text. The width has one or two digits and no
// leading zero, which printf would read as a flag we do not offer.
Sequence ReadSequence(std::string_view text) {
    using Kind = Sequence::Kind;
    if (text.size() < 2) return {Kind::Unknown, 1};
    if (text[1] == '%') return {Kind::Percent, 2};
    if (text[1] == 's') return {Kind::String, 2};
    std::size_t i = 1;
    std::size_t width = 0;
    if (text[i] != '0') {
        while (i < text.size() && i <= 2 && IsDigit(text[i])) width = width * 10 + static_cast<std::size_t>(text[i++] - '0');
    }
    if (i < text.size() && text[i] == 'd') return {Kind::Integer, i + 1, width};
    return {Kind::Unknown, 1};
}

std::string RightAligned(int value, std::size_t width) {
    std::string digits = std::to_string(value);
    if (digits.size() < width) digits.insert(0, width - digits.size(), ' ');
    return digits;
}

}  // namespace

std::string FormatCatalogueText(std::string_view format, std::span<const MessageArgument> arguments) {
    std::string result;
    std::size_t next = 0;  // the argument of the next placeholder
    for (;;) {
        const auto percent = format.find('%');
        result.append(format.substr(0, percent));
        if (percent == std::string_view::npos) return result;
        format.remove_prefix(percent);

        const Sequence sequence = ReadSequence(format);
        const MessageArgument* argument = nullptr;
        if (sequence.kind == Sequence::Kind::String || sequence.kind == Sequence::Kind::Integer) {
            if (next < arguments.size()) argument = &arguments[next];
            ++next;  // taken even when unusable, so one bad placeholder does not shift the rest
        }
        switch (sequence.kind) {
            case Sequence::Kind::Percent: result += '%'; break;
            case Sequence::Kind::Unknown: result.append(format.substr(0, sequence.length)); break;
            case Sequence::Kind::String:
                if (const auto* text = argument ? std::get_if<std::string>(argument) : nullptr)
                    result += DisplayText(*text);
                break;
            case Sequence::Kind::Integer:
                if (const auto* number = argument ? std::get_if<int>(argument) : nullptr) {
                    result += RightAligned(*number, sequence.width);
                }
                break;
        }
        format.remove_prefix(sequence.length);
    }
}

std::vector<std::string> Placeholders(std::string_view format) {
    std::vector<std::string> result;
    for (auto percent = format.find('%'); percent != std::string_view::npos; percent = format.find('%')) {
        format.remove_prefix(percent);
        const Sequence sequence = ReadSequence(format);
        if (sequence.kind == Sequence::Kind::String || sequence.kind == Sequence::Kind::Integer) {
            result.emplace_back(format.substr(0, sequence.length));
        }
        format.remove_prefix(sequence.length);
    }
    return result;
}
