#include "viewer/display/syntax.h"

#include <srchilite/formatter.h>
#include <srchilite/formattermanager.h>
#include <srchilite/formatterparams.h>
#include <srchilite/langdefmanager.h>
#include <srchilite/langmap.h>
#include <srchilite/regexrulefactory.h>
#include <srchilite/settings.h>
#include <srchilite/sourcehighlighter.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/clock.h"
#include "viewer/input/buffer.h"
#include "viewer/input/exec.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/term.h"

namespace {

// Unless --syntax names a language, a larger input goes without colours.
constexpr file_pos SIZE_LIMIT = 50 * 1000 * 1000;
// Longer lines go without colours, and the line after one starts afresh.
constexpr int LINE_LIMIT = 16 * 1024;
// The highlighter's state is kept at the start of every so many lines
// highlighted in a row, or sooner after so many bytes, so that a jump
// starts from a known state near its target.
constexpr int CHECKPOINT_LINES = 1000;
constexpr file_pos CHECKPOINT_BYTES = 32 * 1024;
// The farthest back a known state is taken from. Beyond it the highlighter
// starts afresh a little before the target, so that the rows above it are
// worked out in the same run.
constexpr file_pos REACH = 64 * 1024;
constexpr file_pos FRESH_LEAD = 2 * 1024;
// The lines whose elements are kept (a power of two, slots chosen by the
// line's start), and the ring their spans share.
constexpr int CACHE_BITS = 12;
constexpr int CACHE_LINES = 1 << CACHE_BITS;
constexpr uint64_t SPAN_POOL = 1 << 16;
constexpr int LINE_SPANS = 1024;
// How much of an input's start is looked at for colour sequences of its own.
constexpr int SNIFF_BYTES = 16 * 1024;
// Past this much time in a paint, a move typed meanwhile ends the colours
// for the paint.
constexpr int64_t KEY_CHECK_AFTER = 10 * 1000 * 1000;
// More states than this are not told apart: a line in another starts afresh.
constexpr size_t MAX_STATES = 4096;
// Checkpoints kept at most (some 2 GB of input at their spacing): beyond,
// jumps far from those start afresh.
constexpr size_t MAX_CHECKPOINTS = 65536;

// The library's element names and the elements they show as; any other
// name shows plain.
struct element_name {
    const char *name;
    int element;
};
constexpr element_name ELEMENT_NAMES[] = {
    {"keyword", SYNTAX_KEYWORD},   {"label", SYNTAX_KEYWORD},      {"atom", SYNTAX_KEYWORD},
    {"type", SYNTAX_TYPE},         {"usertype", SYNTAX_TYPE},      {"classname", SYNTAX_TYPE},
    {"attribute", SYNTAX_TYPE},    {"string", SYNTAX_STRING},      {"regexp", SYNTAX_STRING},
    {"specialchar", SYNTAX_STRING}, {"number", SYNTAX_NUMBER},     {"comment", SYNTAX_COMMENT},
    {"todo", SYNTAX_COMMENT},      {"preproc", SYNTAX_PREPROC},    {"function", SYNTAX_FUNCTION},
    {"predef_func", SYNTAX_FUNCTION},
};

// An element over bytes [from, to) of a line.
struct span {
    uint16_t from, to;
    uint8_t element;
};
static_assert(LINE_LIMIT < 65535);

// The spans of the line being highlighted, adjacent ones of one element joined.
span line_spans[LINE_SPANS];
int line_span_count;

void note_span(int element, int start, size_t length)
{
    if (start < 0 || length == 0 || static_cast<size_t>(start) + length > LINE_LIMIT)
        return;
    auto from = static_cast<uint16_t>(start), to = static_cast<uint16_t>(start + length);
    if (line_span_count > 0) {
        span &last = line_spans[line_span_count - 1];
        if (last.element == element && last.to == from) {
            last.to = to;
            return;
        }
    }
    if (line_span_count < LINE_SPANS)
        line_spans[line_span_count++] = {from, to, static_cast<uint8_t>(element)};
}

// The library hands each element's text to the formatter of its name, with
// its offset in the line: the offset and length are all that is kept.
class element_formatter : public srchilite::Formatter {
public:
    explicit element_formatter(int element) : element_(element) {}
    void format(const std::string &s, const srchilite::FormatterParams *params) override
    {
        if (element_ != SYNTAX_NONE && params)
            note_span(element_, params->start, s.size());
    }

private:
    int element_;
};

// The setting, and a count of its changes.
char setting[64] = "auto";
std::string forced_file;        // the language file --syntax asked for
int setting_serial;

// The library's data: its folder, its map of names to language files and
// the language definitions loaded, by file (null: it failed to load).
std::string data_dir;
srchilite::LangMap *lang_map;
bool lang_map_tried;
// The language map is read once the first screen is out (it costs more
// than that screen does): until then a paint goes without colours and
// owes them.
bool open_allowed;
bool open_owed;
std::map<std::string, srchilite::HighlightStatePtr> languages;
srchilite::FormatterManager *formatters;

// What was decided for the current input, and when.
uint64_t checked_generation = UINT64_MAX;
int checked_serial = -1;
bool active;
char language_name[64];
std::unique_ptr<srchilite::SourceHighlighter> highlighter;
srchilite::FormatterParams formatter_params;
std::string paragraph;          // the line handed to the highlighter

// A state of the highlighter: the state it is in and those it will return
// to. A state id indexes the list; 0 is the fresh state.
struct saved_state {
    srchilite::HighlightStatePtr current;
    std::vector<srchilite::HighlightStatePtr> stack;
};
std::vector<saved_state> states;
// The line start after which the highlighter is in a state already, and its id.
file_pos highlighter_at = NO_POSITION;
int highlighter_state = -1;
// Known states at line starts: position -> state id.
std::map<file_pos, int> checkpoints;

// A line as far as it has been worked out: the state at its start, and
// once highlighted its spans (in the pool), where the next line starts and
// the state there.
struct line_entry {
    file_pos start = NO_POSITION;
    file_pos end = NO_POSITION;     // the next line's start; NO_POSITION unknown
    file_pos checkpoint = 0;        // the last checkpoint of the run it is on
    uint64_t spans_at = 0;
    int state = -1;                 // at its start; -1 unknown
    int end_state = -1;
    int since = 0;                  // lines since that checkpoint
    int span_count = 0;
    bool done = false;
    bool partial = false;           // the input's end without a newline: it may grow
};
// Made when an input is first coloured: its entries' first values would
// cost every start a quarter of a megabyte of memory touched.
std::unique_ptr<line_entry[]> cache;
span pool[SPAN_POOL];
uint64_t pool_next;
// The line the last row lay on, for the rows that follow on it.
file_pos last_line_from = NO_POSITION, last_line_to = NO_POSITION;

bool (*move_hook)();
bool owed;
bool paint_skipped;
bool paint_given_up;
int64_t paint_spent;

line_entry &slot(file_pos pos)
{
    uint64_t h = static_cast<uint64_t>(pos) * 0x9E3779B97F4A7C15ull;
    return cache[h >> (64 - CACHE_BITS)];
}

bool spans_valid(const line_entry &e)
{
    return e.done && !e.partial && pool_next <= e.spans_at + SPAN_POOL;
}

void forget_input()
{
    if (cache)
        for (int i = 0; i < CACHE_LINES; i++)
            cache[i] = line_entry{};
    pool_next = 0;
    states.clear();
    checkpoints.clear();
    highlighter.reset();
    highlighter_at = NO_POSITION;
    highlighter_state = -1;
    last_line_from = last_line_to = NO_POSITION;
    active = false;
}

bool open_library()
{
    if (lang_map_tried)
        return lang_map != nullptr;
    lang_map_tried = true;
    try {
        data_dir = srchilite::Settings::retrieveDataDir();
        auto *map = new srchilite::LangMap(data_dir, "lang.map");
        map->open();
        lang_map = map;
        formatters = new srchilite::FormatterManager(
            srchilite::FormatterPtr(new element_formatter(SYNTAX_NONE)));
        for (const element_name &n : ELEMENT_NAMES)
            formatters->addFormatter(n.name,
                                     srchilite::FormatterPtr(new element_formatter(n.element)));
    } catch (...) {
        // No language files: nothing is coloured.
        lang_map = nullptr;
    }
    return lang_map != nullptr;
}

// A language file's definitions, loaded once; null when they do not load.
srchilite::HighlightStatePtr load_language(const std::string &file)
{
    auto found = languages.find(file);
    if (found != languages.end())
        return found->second;
    srchilite::HighlightStatePtr state;
    try {
        static srchilite::RegexRuleFactory *factory = new srchilite::RegexRuleFactory;
        static srchilite::LangDefManager *manager = new srchilite::LangDefManager(factory);
        state = manager->getHighlightState(data_dir, file);
    } catch (...) {
        state.reset();
    }
    languages[file] = state;
    return state;
}

// The language file a name maps to, by the library's map; "" for none. The
// file that colours nothing counts as none.
std::string mapped_file(const std::string &file)
{
    return file == "nohilite.lang" ? std::string() : file;
}

// The library's map takes a whole name for an extension too: a file named
// "f" would be Fortran, "c" C. A short name without a dot is taken for
// neither; Makefile and ChangeLog are long enough.
std::string language_of_name(const char *name)
{
    const char *base = strrchr(name, '/');
    base = base ? base + 1 : name;
    if (!strchr(base, '.') && strlen(base) < 4)
        return std::string();
    try {
        return mapped_file(lang_map->getMappedFileNameFromFileName(name));
    } catch (...) {
        return std::string();
    }
}

// A language asked for by name: a name of the map ("c", "python", "sh"),
// or a language file of the folder by its name with or without ".lang".
std::string language_asked(const char *name)
{
    if (!open_library() || !*name || strchr(name, '/'))
        return std::string();
    std::string file;
    try {
        file = lang_map->getFileName(name);
    } catch (...) {
        file.clear();
    }
    if (file.empty()) {
        std::string base = name;
        if (base.size() < 5 || base.compare(base.size() - 5, 5, ".lang") != 0)
            base += ".lang";
        FILE *f = fopen((data_dir + "/" + base).c_str(), "r");
        if (f) {
            fclose(f);
            file = base;
        }
    }
    return mapped_file(file);
}

// Whether the start of the input holds colour sequences: the first
// screenful, as far as it is held without waiting for a pipe.
bool has_colour_sequences()
{
    int lines = 0;
    char before = 0;
    for (file_pos pos = 0; pos < SNIFF_BYTES && lines <= screen_rows;) {
        const char *data = nullptr;
        int64_t n = 0;
        if (input_is_pipe) {
            int valid = 0;
            if (pos % BLOCK_SIZE == 0 && (data = buf_block(pos / BLOCK_SIZE, &valid)))
                n = valid;
        } else {
            n = buf_span(pos, &data);
        }
        if (n <= 0 || !data)
            break;
        n = std::min<int64_t>(n, SNIFF_BYTES - pos);
        for (int64_t i = 0; i < n; i++) {
            if (before == '\033' && data[i] == '[')
                return true;
            if (data[i] == '\n')
                lines++;
            before = data[i];
        }
        pos += n;
    }
    return false;
}

// Decide for the current input, once per input and setting: whether it
// is coloured, and as which language.
bool refresh()
{
    if (checked_generation == input_generation && checked_serial == setting_serial)
        return active;
    // Asked again at every row until the map is read; nothing is active
    // before it. A screen that may be the only one (-F) waits for nothing.
    if (!lang_map_tried && !open_allowed && !opt_F && forced_file.empty() &&
        strcmp(setting, "off") != 0) {
        open_owed = true;
        return false;
    }
    checked_generation = input_generation;
    checked_serial = setting_serial;
    forget_input();
    if (strcmp(setting, "off") == 0 || input_fd < 0)
        return false;
    if (!open_library())
        return false;
    std::string file = forced_file;
    if (file.empty()) {
        file_pos length = buf_length();
        if (!input_named || !buf_name() || length == NO_POSITION || length > SIZE_LIMIT)
            return false;
        file = language_of_name(buf_name());
    }
    if (file.empty() || has_colour_sequences())
        return false;
    srchilite::HighlightStatePtr main = load_language(file);
    if (!main)
        return false;
    highlighter = std::make_unique<srchilite::SourceHighlighter>(main);
    highlighter->setFormatterManager(formatters);
    highlighter->setFormatterParams(&formatter_params);
    // Each piece of text is handed over at once, so that its offset is known.
    highlighter->setOptimize(false);
    states.push_back({main, {}});
    snprintf(language_name, sizeof language_name, "%.*s",
             static_cast<int>(file.size() - (file.size() > 5 ? 5 : 0)), file.c_str());
    if (!cache)
        cache = std::make_unique<line_entry[]>(CACHE_LINES);
    active = true;
    return true;
}

// Keep a known state at a line start; a state carried from the lines
// before replaces a fresh one guessed there.
void keep_checkpoint(file_pos pos, int state, bool carried)
{
    if (checkpoints.size() >= MAX_CHECKPOINTS && !checkpoints.count(pos))
        return;
    if (carried)
        checkpoints[pos] = state;
    else
        checkpoints.emplace(pos, state);
}

int save_state()
{
    saved_state s;
    s.current = highlighter->getCurrentState();
    srchilite::HighlightStateStack copy = *highlighter->getStateStack();
    s.stack.resize(copy.size());
    for (size_t i = copy.size(); i-- > 0;) {
        s.stack[i] = copy.top();
        copy.pop();
    }
    for (size_t i = 0; i < states.size(); i++)
        if (states[i].current == s.current && states[i].stack == s.stack)
            return static_cast<int>(i);
    if (states.size() >= MAX_STATES)
        return -1;
    states.push_back(std::move(s));
    return static_cast<int>(states.size() - 1);
}

void restore_state(int id)
{
    const saved_state &s = states[static_cast<size_t>(id)];
    srchilite::HighlightStateStackPtr stack(new srchilite::HighlightStateStack);
    for (const srchilite::HighlightStatePtr &st : s.stack)
        stack->push(st);
    highlighter->setCurrentState(s.current);
    highlighter->setStateStack(stack);
}

// Read the line at e.start and work out its spans, the next line's start
// and the state there; false when its bytes cannot be had.
bool highlight_line(line_entry &e)
{
    paragraph.clear();
    file_pos pos = e.start;
    bool ended = false;
    while (paragraph.size() <= static_cast<size_t>(LINE_LIMIT)) {
        const char *data;
        int64_t n = buf_span(pos, &data);
        if (n <= 0 || pending_signals)
            break;
        n = std::min<int64_t>(n, LINE_LIMIT + 1 - static_cast<int64_t>(paragraph.size()));
        const void *newline = memchr(data, '\n', static_cast<size_t>(n));
        if (newline) {
            n = static_cast<const char *>(newline) - data;
            paragraph.append(data, static_cast<size_t>(n));
            pos += n + 1;
            ended = true;
            break;
        }
        paragraph.append(data, static_cast<size_t>(n));
        pos += n;
    }
    if (pending_signals)
        return false;
    e.done = true;
    e.partial = false;
    e.span_count = 0;
    e.end_state = -1;
    line_span_count = 0;
    if (paragraph.size() > static_cast<size_t>(LINE_LIMIT)) {
        // Too long: no colours, and where it ends is not looked for.
        e.end = NO_POSITION;
        return true;
    }
    if (!ended) {
        // The end of what there is: the line may still grow.
        if (buf_length() == NO_POSITION || pos < buf_length())
            return false;
        e.partial = true;
    }
    e.end = ended ? pos : NO_POSITION;
    if (highlighter_at != e.start || highlighter_state != e.state)
        restore_state(e.state);
    highlighter_at = NO_POSITION;
    try {
        highlighter->highlightParagraph(paragraph);
        e.end_state = save_state();
    } catch (...) {
        // The library gave up on the line (a regular expression too costly,
        // say): it shows plain, and the next starts afresh.
        line_span_count = 0;
        e.end_state = -1;
    }
    if (e.end != NO_POSITION && e.end_state >= 0) {
        highlighter_at = e.end;
        highlighter_state = e.end_state;
    }
    uint64_t at = pool_next;
    if (at % SPAN_POOL + static_cast<uint64_t>(line_span_count) > SPAN_POOL)
        at += SPAN_POOL - at % SPAN_POOL;
    std::copy(line_spans, line_spans + line_span_count, pool + at % SPAN_POOL);
    pool_next = at + static_cast<uint64_t>(line_span_count);
    e.spans_at = at;
    e.span_count = line_span_count;
    return true;
}

// The first line start at or after FRESH_LEAD bytes before target, where
// a fresh state begins.
file_pos fresh_start(file_pos target)
{
    file_pos pos = std::max<file_pos>(0, target - FRESH_LEAD);
    if (pos == 0)
        return 0;
    while (pos < target) {
        const char *data;
        int64_t n = buf_span(pos, &data);
        if (n <= 0)
            return target;
        n = std::min<int64_t>(n, target - pos);
        const void *newline = memchr(data, '\n', static_cast<size_t>(n));
        if (newline)
            return pos + (static_cast<const char *>(newline) - data) + 1;
        pos += n;
    }
    return target;
}

// Whether the next key typed is a move. Keys typed and not read yet are
// queued first: paging by a held key reads them in bursts, and the last
// paint of a burst is replaced as soon as the next burst is read.
bool move_queued()
{
    if (!move_hook)
        return false;
    key_typed_ahead();
    return move_hook();
}

bool time_to_give_up(int64_t began)
{
    if (pending_signals)
        return true;
    return paint_spent + clock_ns() - began > KEY_CHECK_AFTER && move_queued();
}

// Highlight lines from pos, in state, up to the line at target; its entry,
// or null when that could not be done. Each line hands its end state to
// the next one's entry, and every so often to a checkpoint.
line_entry *run(file_pos pos, int state, int since, file_pos checkpoint, file_pos target,
                int64_t began)
{
    for (;;) {
        line_entry &e = slot(pos);
        if (e.start != pos) {
            e = line_entry{};
            e.start = pos;
        }
        if (e.state != state) {
            e.state = state;
            e.done = false;
        }
        e.since = since;
        e.checkpoint = checkpoint;
        if (!spans_valid(e) && !highlight_line(e))
            return nullptr;
        if (e.end != NO_POSITION) {
            state = e.end_state;
            since++;
            if (state < 0) {
                state = 0;
                since = 0;
                checkpoint = e.end;
                keep_checkpoint(e.end, 0, false);
            } else if (since >= CHECKPOINT_LINES || e.end - checkpoint >= CHECKPOINT_BYTES) {
                keep_checkpoint(e.end, state, true);
                since = 0;
                checkpoint = e.end;
            }
            line_entry &next = slot(e.end);
            if (&next != &e) {
                if (next.start != e.end) {
                    next = line_entry{};
                    next.start = e.end;
                }
                if (next.state != state) {
                    next.state = state;
                    next.done = false;
                }
                next.since = since;
                next.checkpoint = checkpoint;
            }
        }
        if (pos >= target)
            return pos == target ? &e : nullptr;
        if (time_to_give_up(began))
            return nullptr;
        if (e.end == NO_POSITION) {
            // A line too long to follow: the target's rows start afresh.
            file_pos fresh = fresh_start(target);
            pos = fresh > pos ? fresh : target;
            state = since = 0;
            checkpoint = pos;
            keep_checkpoint(pos, 0, false);
            continue;
        }
        if (e.end <= pos)
            return nullptr;
        pos = e.end;
    }
}

// The entry of the line that starts at pos, highlighted; null when it
// could not be.
line_entry *ensure(file_pos pos)
{
    line_entry &e = slot(pos);
    if (e.start == pos && spans_valid(e))
        return &e;
    if (paint_given_up)
        return nullptr;
    int64_t began = clock_ns();
    line_entry *found;
    if (e.start == pos && e.state >= 0) {
        found = run(pos, e.state, e.since, e.checkpoint, pos, began);
    } else {
        auto known = checkpoints.upper_bound(pos);
        if (known != checkpoints.begin() && pos - std::prev(known)->first <= REACH) {
            --known;
            found = run(known->first, known->second, 0, known->first, pos, began);
        } else {
            file_pos from = fresh_start(pos);
            keep_checkpoint(from, 0, false);
            found = run(from, 0, 0, from, pos, began);
        }
    }
    paint_spent += clock_ns() - began;
    if (!found) {
        paint_given_up = true;
        owed = true;
    }
    return found;
}

// The start of the line that holds pos; NO_POSITION when it lies more than
// a long line's length back, or is no longer held.
file_pos line_start_of(file_pos pos)
{
    if (pos == 0 || buf_newline_before(pos))
        return pos;
    if (last_line_from != NO_POSITION && pos > last_line_from &&
        (last_line_to == NO_POSITION || pos < last_line_to))
        return last_line_from;
    file_pos at = pos;
    while (pos - at < LINE_LIMIT) {
        const char *data;
        int64_t n = buf_span_back(at, &data);
        if (n <= 0)
            return at == 0 ? 0 : NO_POSITION;
        int64_t look = std::min<int64_t>(n, LINE_LIMIT - (pos - at));
        const char *end = data + n;     // the byte at `at`
        for (int64_t i = 1; i <= look; i++)
            if (end[-i] == '\n')
                return at - i + 1;
        at -= look;
    }
    return NO_POSITION;
}

} // namespace

bool syntax_choose(const char *text, char *message, int size)
{
    std::string file;
    if (!text || !*text || strcmp(text, "auto") == 0) {
        text = "auto";
    } else if (strcmp(text, "off") != 0) {
        if (strlen(text) >= sizeof setting || (file = language_asked(text)).empty()) {
            snprintf(message, static_cast<size_t>(size), "%.60s: no such language", text);
            return false;
        }
        if (!load_language(file)) {
            snprintf(message, static_cast<size_t>(size), "%.60s: its language file does not load",
                     text);
            return false;
        }
    }
    snprintf(setting, sizeof setting, "%s", text);
    forced_file = file;
    setting_serial++;
    return true;
}

const char *syntax_setting()
{
    return setting;
}

const char *syntax_language()
{
    return refresh() ? language_name : nullptr;
}

void syntax_set_move_hook(bool (*move_queued)())
{
    move_hook = move_queued;
}

bool syntax_owed()
{
    // Not while keys are typed ahead: the next may move on (or, at the
    // end, ring the bell once for each key), and a repaint for each would
    // only hold them up.
    if (open_owed) {
        if (key_typed_ahead())
            return false;
        open_owed = false;
        open_allowed = true;
        return refresh();
    }
    return owed && active && !key_typed_ahead();
}

void syntax_paint_begin(bool whole, bool unseen)
{
    paint_spent = 0;
    paint_given_up = false;
    // Asked only where there are colours to leave out: the question costs
    // a look at the terminal.
    paint_skipped = active && (unseen || move_queued());
    if (paint_skipped)
        owed = true;
    else if (whole)
        owed = false;
}

void syntax_style(const display_row &row, cell_style *styles)
{
    if (!row.cells || row.count == 0 || row.start < 0 || paint_skipped || !refresh())
        return;
    for (int i = 0; i < row.count; i++)
        if ((row.cells[i] & CELL_KIND) == CELL_ESCAPE)
            return;
    if (input_from_stderr(row.start))
        return;
    file_pos start = line_start_of(row.start);
    if (start == NO_POSITION)
        return;
    line_entry *e = ensure(start);
    if (!e)
        return;
    last_line_from = e->start;
    last_line_to = e->end;
    const span *spans = pool + e->spans_at % SPAN_POOL;
    int count = e->span_count, k = 0;
    file_pos before = 0;
    for (int i = 0; i < row.count; i++) {
        file_pos offset = row.positions[i] - start;
        if (offset < before)
            k = 0;
        before = offset;
        while (k < count && spans[k].to <= offset)
            k++;
        if (k < count && spans[k].from <= offset)
            styles[i] = static_cast<cell_style>(styles[i] | spans[k].element << STYLE_SYNTAX_SHIFT);
    }
}
