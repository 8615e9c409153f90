// Tags files and lookups: tag_lookup on arbitrary lines, then tag_locate in
// an arbitrary input. Both are checked against a plain reading of the line
// format and of the raw lines the locator compares with.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <optional>
#include <string>

#include "tests/fuzz/support.h"
#include "tests/unit/fixtures.h"
#include "viewer/display/line.h"
#include "viewer/display/screen.h"
#include "viewer/navigation/linenum.h"
#include "viewer/navigation/tags.h"
#include "viewer/options/option.h"
#include "viewer/terminal/message.h"

namespace {

// Lines of the tags file are read in pieces of at most this many bytes.
constexpr size_t TAGS_PIECE = 199;
// Raw lines of the input come in pieces of at most this many bytes.
constexpr size_t RAW_PIECE = LINE_BUFFER_SIZE - 1;

struct tag_place {
    std::string file;
    std::string text;
};

bool blank(char c)
{
    return c == ' ' || c == '\t';
}

// The fields of one piece of a tags line, if it is a complete candidate.
std::optional<tag_place> fields_of(const std::string &piece, const std::string &tag)
{
    std::string line = piece.substr(0, strlen(piece.c_str()));
    if (line.compare(0, tag.size(), tag) != 0 || line.size() <= tag.size() ||
        !blank(line[tag.size()]))
        return std::nullopt;
    size_t p = tag.size();
    while (p < line.size() && blank(line[p]))
        p++;
    size_t name = p;
    while (p < line.size() && !blank(line[p]))
        p++;
    if (p == name || p == line.size())
        return std::nullopt;
    size_t name_end = p;
    while (p < line.size() && blank(line[p]))
        p++;
    if (p == line.size())
        return std::nullopt;
    char delimiter = line[p++];
    if (p < line.size() && line[p] == '^')
        p++;
    size_t end = line.find(delimiter, p);
    std::string text = line.substr(p, end == std::string::npos ? std::string::npos : end - p);
    if (!text.empty() && text.back() == '$')
        text.pop_back();
    return tag_place{line.substr(name, name_end - name), text};
}

// The first candidate line of the tags file, read as fgets would.
std::optional<tag_place> expected_place(const std::string &tags, const std::string &tag)
{
    for (size_t pos = 0; pos < tags.size();) {
        size_t newline = tags.find('\n', pos);
        size_t end = newline == std::string::npos ? tags.size() : newline + 1;
        if (end - pos > TAGS_PIECE)
            end = pos + TAGS_PIECE;
        if (auto place = fields_of(tags.substr(pos, end - pos), tag))
            return place;
        pos = end;
    }
    return std::nullopt;
}

// Where the first raw line equal to text begins, as raw_line_next cuts
// them: at newlines, and into pieces of RAW_PIECE bytes; NUL reads as '@'.
file_pos expected_line(std::string input, const std::string &text)
{
    for (char &c : input)
        if (c == '\0')
            c = '@';
    for (size_t pos = 0; pos < input.size();) {
        size_t newline = input.find('\n', pos);
        size_t length = (newline == std::string::npos ? input.size() : newline) - pos;
        size_t next;
        if (length < RAW_PIECE || (length == RAW_PIECE && newline != std::string::npos)) {
            next = pos + length + (newline != std::string::npos);
        } else {
            length = RAW_PIECE;
            next = pos + RAW_PIECE;
        }
        if (input.compare(pos, length, text) == 0)
            return static_cast<file_pos>(pos);
        pos = next;
    }
    return NO_POSITION;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    settings_reset();
    screen_reset(provider.ConsumeIntegralInRange(2, 30), 80);
    opt_n = provider.ConsumeBool();
    bool have_tags = provider.ConsumeBool();
    std::string tag = provider.ConsumeRandomLengthString(64);
    tag.resize(strlen(tag.c_str()));
    std::string tags = provider.ConsumeRandomLengthString(4096);
    std::string input = provider.ConsumeRemainingBytesAsString();

    fuzz_scratch_file("tags", have_tags, tags);
    int errors_before = error_count;
    fuzz_in_scratch([&] { tag_lookup(tag.c_str()); });
    std::optional<tag_place> place = have_tags ? expected_place(tags, tag) : std::nullopt;
    if (!place) {
        if (tag_file_name)
            fuzz_fail("tag found where there is none", tag_file_name);
        if (error_count != errors_before + 1)
            fuzz_fail("failed lookup without a message");
        return 0;
    }
    if (!tag_file_name || place->file != tag_file_name)
        fuzz_fail("tag names another file",
                  place->file + " / " + (tag_file_name ? tag_file_name : "<none>"));

    if (input_from_text(input, 4) < 0)
        fuzz_fail("no input file");
    screen_pos_clear();
    linenum_reset();
    errors_before = error_count;
    int result = tag_locate();
    file_pos line = expected_line(input, place->text);
    if (line == NO_POSITION) {
        if (result != 1 || error_count != errors_before + 1)
            fuzz_fail("tag located where there is none");
    } else if (result != 0 || screen_pos(ROW_TOP) != line) {
        fuzz_fail("tag not at its line", "expected " + std::to_string(line) + ", top " +
                                             std::to_string(screen_pos(ROW_TOP)));
    }
    input_close();
    return 0;
}
