// Tags files and lookups: tag_lookup on arbitrary lines, then tag_locate in
// an arbitrary input. Both are checked against a plain reading of the line
// format and of the raw lines the locator compares with.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <optional>
#include <string>

#include "tests/fuzz/support.h"
#include "tests/unit/fixtures.h"
#include "viewer/display/line.h"
#include "viewer/display/screen.h"
#include "viewer/input/linenum.h"
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

// The fields of one piece of a tags line, if it is a complete candidate.
std::optional<tag_place> fields_of(const std::string &piece, const std::string &tag)
{
    const char *blanks = " \t";
    std::string line = fuzz_c_string(piece);
    if (!line.starts_with(tag) || line.size() <= tag.size() ||
        (line[tag.size()] != ' ' && line[tag.size()] != '\t'))
        return std::nullopt;
    size_t name = line.find_first_not_of(blanks, tag.size());
    size_t name_end = line.find_first_of(blanks, name);
    size_t p = line.find_first_not_of(blanks, name_end);
    if (p == std::string::npos)
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
    for (const std::string &piece : fuzz_fgets_pieces(tags, TAGS_PIECE))
        if (auto place = fields_of(piece, tag))
            return place;
    return std::nullopt;
}

// Where the first raw line equal to text begins, as raw_line_next cuts
// them: at newlines, and into pieces of RAW_PIECE bytes, a newline right
// after a full piece going with it; NUL reads as '@'.
file_pos expected_line(std::string input, const std::string &text)
{
    std::replace(input.begin(), input.end(), '\0', '@');
    for (size_t pos = 0; pos < input.size();) {
        size_t end = std::min(input.find('\n', pos), input.size());
        size_t length = std::min(end - pos, RAW_PIECE);
        if (input.compare(pos, length, text) == 0)
            return static_cast<file_pos>(pos);
        pos += length + (pos + length == end && end < input.size());
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
    std::string tag = fuzz_c_string(provider.ConsumeRandomLengthString(64));
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

    fuzz_open_input(input);
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
