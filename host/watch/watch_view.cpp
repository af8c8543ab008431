#include "watch_view.h"

#include <curses.h>
#include <langinfo.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "gpu_overview.h"
#include "gpu_sources.h"
#include "host_text.h"
#include "platform.h"
#include "process_panel.h"
#include "strip_chart.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPanelHeight = 8;  // title, six chart rows, a separator
constexpr int kPanelMinWidth = 50;
constexpr int kPanelGap = 2;  // blank columns after a panel, so that a value never meets a name

// Any thread may take the signal (the metrics endpoint's too): a lock-free atomic flag.
std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) {
    g_interrupted.store(true);
}

// A blank cell in each kind's attributes, indexed by the kind: made once, then copied
// for every cell, which is far cheaper than making every cell.
using CellStyles = std::array<cchar_t, 128>;

// One line of the layout: a group's heading, or a row of panels.
struct LayoutItem {
    bool heading;
    std::string group;
    std::vector<size_t> sources;
};

struct View {
    const std::vector<HostSource>* sources;
    std::vector<SourceHistory> histories;
    uint32_t intervalMs;       // shown in the status line
    uint32_t startIntervalMs;  // on the ladder of intervals that + and - step through
    PollSchedule* schedule = nullptr;
    bool paused = false;  // the view is frozen; the rounds, and other outputs, go on
    int scroll = 0;       // rows scrolled off the top
    bool colour = false;
    CellStyles styles{};
    ChartGlyphs glyphs = ChartGlyphs::kAscii;
    bool help = false;                                 // the keys are shown over the panels
    std::function<GpuProcessRound()> takeProcesses{};  // who uses the GPU, once a round
    GpuProcessRound processes{};
    bool processesShown = true;
    ProcessOrder order = ProcessOrder::kBusy;
    size_t processFirst = 0;  // the panel's rows scrolled off its top
    std::vector<OverviewGpu> gpus{};
    bool overview = false;  // the GPUs at a glance, rather than the graphs
    int gpu = kNoGpu;       // the graphs and the processes of this GPU only
};

// Colour pairs: the bar's scale from low to high (kPairHeat + 0 to kHeatSteps - 1), then
// the rest.
enum Pair : short { kPairHeat = 1, kPairMark = kPairHeat + kHeatSteps, kPairHeading, kPairPaused };

const char* const kKeys[] = {
    "q  Esc  Ctrl+C    quit",
    "space             pause, or go on",
    "+  -              poll more often, or less: the next pace on a ladder",
    "j  k  arrows      scroll a line",
    "PgDn  PgUp        scroll a page",
    "v                 the overview of the GPUs, or the graphs",
    "n                 the next GPU's graphs and processes only, then all",
    "p                 show or hide the processes",
    "o                 order the processes: busy, memory, pid",
    "[  ]              scroll the processes",
    "?  h              show or hide these keys",
};

// The graphs' layout of the sources at `shown` positions.
std::vector<LayoutItem> Layout(const std::vector<HostSource>& sources,
                               const std::vector<size_t>& shown, int columns) {
    bool anyGroup = false;
    for (size_t i : shown) anyGroup = anyGroup || !sources[i].group.empty();
    std::vector<LayoutItem> items;
    for (size_t k = 0; k < shown.size(); ++k) {
        const HostSource& source = sources[shown[k]];
        const bool newGroup = k == 0 || source.group != sources[shown[k - 1]].group;
        if (anyGroup && newGroup)
            items.push_back(
                LayoutItem{true, source.group.empty() ? "(no group)" : source.group, {}});
        if (newGroup || items.empty() || items.back().heading ||
            static_cast<int>(items.back().sources.size()) >= columns)
            items.push_back(LayoutItem{false, source.group, {}});
        items.back().sources.push_back(shown[k]);
    }
    return items;
}

// The sources the graphs show: every one, or those of the GPU picked.
std::vector<size_t> ShownSources(const View& view) {
    std::vector<size_t> shown;
    for (size_t i = 0; i < view.sources->size(); ++i)
        if (view.gpu == kNoGpu || GpuOfSource((*view.sources)[i]).gpu == view.gpu)
            shown.push_back(i);
    return shown;
}

// Each source's newest reading; NaN where none came yet.
std::vector<float> Latest(const View& view) {
    std::vector<float> latest(view.histories.size(), NAN);
    for (size_t i = 0; i < latest.size(); ++i)
        if (view.histories[i].Size() > 0) latest[i] = view.histories[i].Back(0);
    return latest;
}

// The ceiling the counter library knows for a source's graph: its GPU's memory total for
// the memory used and free; 0 for any other.
std::vector<double> KnownHighs(const View& view, const std::vector<float>& latest) {
    std::vector<double> highs(view.sources->size(), 0);
    for (const OverviewGpu& gpu : view.gpus) {
        const double total = MemoryTotalOf(gpu, latest);
        for (const char* figure : {"memory_used", "memory_free", "memory_total"}) {
            const auto found = gpu.figures.find(figure);
            if (found != gpu.figures.end()) highs[found->second] = total;
        }
    }
    return highs;
}

int ItemHeight(const LayoutItem& item) {
    return item.heading ? 1 : kPanelHeight;
}

attr_t AttributeOf(char kind, bool colour) {
    if (kind >= kCellHeat0 && kind < kCellHeat0 + kHeatSteps)
        return colour ? COLOR_PAIR(kPairHeat + (kind - kCellHeat0)) : A_NORMAL;
    switch (kind) {
        case kCellTitle:
        case kCellValue:
            return A_BOLD;
        case kCellMark:
            return colour ? COLOR_PAIR(kPairMark) | A_BOLD : A_BOLD;
        case kCellGrid:
        case kCellLabel:
        case kCellAxis:
            return A_DIM;
        default:
            return A_NORMAL;
    }
}

// Draws a rendered row at (y, x) onto the erased screen: the cells that are not blank
// are copied from their kind's style with their character put in, without the
// per-character work of writing text. A character the terminal would not show in exactly
// one column (a wide or a combining one) is drawn as U+FFFD, so that the panels keep
// their columns.
void DrawCells(int y, int x, const std::u32string& text, const std::string& kinds,
               const CellStyles& styles) {
    const size_t length = std::min(text.size(), kinds.size());
    std::vector<cchar_t> cells(length);
    size_t start = 0;
    for (size_t i = 0; i <= length; ++i) {
        if (i == length || (kinds[i] == kCellBlank && text[i] == U' ')) {
            if (i > start)
                mvadd_wchnstr(y, x + static_cast<int>(start), cells.data() + start,
                              static_cast<int>(i - start));
            start = i + 1;
            continue;
        }
        wchar_t c = static_cast<wchar_t>(text[i]);
        // ASCII and the chart's own box and block characters are one column wide.
        if (c >= 0x7F && !(c >= 0x2500 && c <= 0x25FF) && wcwidth(c) != 1) c = L'\xFFFD';
        cells[i] = styles[static_cast<unsigned char>(kinds[i]) & 0x7F];
        cells[i].chars[0] = c;
    }
}

// The keys, in a box over the middle of the screen.
void DrawHelp() {
    const int rows = static_cast<int>(sizeof kKeys / sizeof kKeys[0]) + 4;
    int width = 0;
    for (const char* line : kKeys) width = std::max(width, static_cast<int>(strlen(line)));
    width += 4;
    const int top = std::max(0, (LINES - 1 - rows) / 2);
    const int left = std::max(0, (COLS - width) / 2);
    attron(A_REVERSE);
    for (int r = 0; r < rows && top + r < LINES - 1; ++r) {
        mvhline(top + r, left, ' ', std::min(width, COLS));
        const char* line = r == 1 ? "Keys" : r >= 3 && r < rows - 1 ? kKeys[r - 3] : "";
        mvaddnstr(top + r, left + 2, line, std::max(0, COLS - left - 2));
    }
    attroff(A_REVERSE);
}

// The last line: what is shown, the pace, PAUSED when it is, and the keys to know.
void DrawStatus(const View& view) {
    char status[160];
    const std::string what =
        view.overview
            ? std::to_string(view.gpus.size()) + " GPU" + (view.gpus.size() == 1 ? "" : "s")
        : view.gpu != kNoGpu ? "GPU " + std::to_string(view.gpu) + "'s sources"
                             : std::to_string(view.sources->size()) + " sources";
    snprintf(status, sizeof status, " zarmite-host  %s  every %s%s", what.c_str(),
             DurationText(view.intervalMs).c_str(), view.processesShown ? "" : "  p processes");
    attron(A_REVERSE);
    mvhline(LINES - 1, 0, ' ', COLS);
    mvaddnstr(LINES - 1, 0, status, COLS);
    int x = static_cast<int>(strlen(status));
    if (view.paused) {
        const attr_t paused = view.colour ? COLOR_PAIR(kPairPaused) | A_BOLD : A_BOLD;
        attroff(A_REVERSE);
        attron(paused);
        if (x + 2 < COLS) mvaddnstr(LINES - 1, x + 2, " PAUSED ", COLS - x - 2);
        attroff(paused);
        attron(A_REVERSE);
        x += 10;
    }
    // The longest list of keys that fits whole.
    const bool gpus = !view.gpus.empty();
    for (const char* keys :
         {gpus ? "   ? keys  q quit  v overview/graphs  n GPU  space pause  + faster  - slower"
               : "   ? keys  q quit  space pause  + faster  - slower",
          gpus ? "   ? keys  q quit  v view  n GPU  space pause  +/- pace"
               : "   ? keys  q quit  space pause  +/- pace",
          gpus ? "   ? keys  q quit  v view  n GPU" : "   ? keys  q quit", "   ? keys  q quit",
          "   ? keys"}) {
        if (x + static_cast<int>(strlen(keys)) > COLS) continue;
        mvaddnstr(LINES - 1, x, keys, COLS - x);
        break;
    }
    attroff(A_REVERSE);
}

int TotalRows(const std::vector<LayoutItem>& items) {
    int rows = 0;
    for (const LayoutItem& item : items) rows += ItemHeight(item);
    return rows;
}

// Every history keeps as many values as the widest chart can show: the terminal's width.
void FitHistories(View& view) {
    const size_t columns = static_cast<size_t>(std::max(COLS, 1));
    for (SourceHistory& history : view.histories) history.Grow(columns);
}

// The process panel's rows: a line where the library gives no per-process data, else its
// processes with a heading and a summary, at most a third of the screen.
// The processes of the GPU picked, or of every GPU.
GpuProcessRound ShownProcesses(const View& view) {
    return FilterProcesses(view.processes, view.gpu, kAnyProcess);
}

int ProcessRows(const View& view, const GpuProcessRound& shown) {
    if (!view.processesShown) return 0;
    if (!shown.offered) return 1;
    const int wanted = static_cast<int>(shown.processes.size()) + 2;
    return std::min(wanted, std::max(3, (LINES - 1) / 3));
}

void DrawProcesses(View& view, const GpuProcessRound& shown, int top, int rows) {
    // Scrolled no further than its last row shows at the bottom.
    const size_t room = static_cast<size_t>(std::max(rows - 2, 0));
    view.processFirst = std::min(view.processFirst,
                                 shown.processes.size() > room ? shown.processes.size() - room : 0);
    const std::vector<std::string> lines =
        ProcessPanelLines(shown, view.order, COLS, rows, view.processFirst);
    for (size_t i = 0; i < lines.size(); ++i) {
        const attr_t attribute = i == 0 && shown.offered ? A_BOLD : A_NORMAL;
        attron(attribute);
        mvaddnstr(top + static_cast<int>(i), 0, lines[i].c_str(), COLS);
        attroff(attribute);
    }
}

void DrawHeading(const View& view, int y, const std::string& group) {
    const attr_t attribute = view.colour ? COLOR_PAIR(kPairHeading) | A_BOLD : A_BOLD | A_UNDERLINE;
    attron(attribute);
    mvaddnstr(y, 0, ("== " + PrintableText(group) + " ==").c_str(), COLS);
    attroff(attribute);
}

// Every GPU at a glance in `viewRows` rows, in blocks or a line each.
void DrawOverview(View& view, int viewRows, bool blocks) {
    const PanelCells cells =
        RenderOverview(view.gpus, *view.sources, Latest(view), COLS, blocks, view.glyphs);
    const int total = static_cast<int>(cells.text.size());
    view.scroll = std::max(0, std::min(view.scroll, total - viewRows));
    for (int r = view.scroll; r < total && r - view.scroll < viewRows; ++r)
        DrawCells(r - view.scroll, 0, cells.text[r], cells.kinds[r], view.styles);
}

void DrawGraphs(View& view, int viewRows) {
    const int width = COLS;
    const int columns = std::max(1, width / kPanelMinWidth);
    const int panelWidth = width / columns;
    const std::vector<LayoutItem> items = Layout(*view.sources, ShownSources(view), columns);
    const std::vector<double> knownHighs = KnownHighs(view, Latest(view));
    view.scroll = std::max(0, std::min(view.scroll, TotalRows(items) - viewRows));

    int y = -view.scroll;
    for (const LayoutItem& item : items) {
        const int height = ItemHeight(item);
        if (y + height > 0 && y < viewRows) {
            if (item.heading) {
                DrawHeading(view, y, item.group);
            } else {
                for (size_t k = 0; k < item.sources.size(); ++k) {
                    const size_t index = item.sources[k];
                    const PanelCells cells = RenderPanel(
                        (*view.sources)[index], view.histories[index], panelWidth - kPanelGap,
                        kPanelHeight, view.glyphs, knownHighs[index]);
                    for (int r = 0; r < static_cast<int>(cells.text.size()); ++r) {
                        if (y + r < 0 || y + r >= viewRows) continue;
                        DrawCells(y + r, static_cast<int>(k) * panelWidth, cells.text[r],
                                  cells.kinds[r], view.styles);
                    }
                }
            }
        }
        y += height;
    }
}

void Draw(View& view) {
    FitHistories(view);
    erase();
    const GpuProcessRound shown = ShownProcesses(view);
    int processRows = std::min(ProcessRows(view, shown), std::max(LINES - 2, 0));
    int viewRows = LINES - 1 - processRows;  // then the processes, then the status line
    if (view.overview) {
        // The GPUs in blocks where those fit beside a few processes, else a line each; the
        // processes right below them, in every row left.
        const int rows = LINES - 1;
        const int fewProcesses = std::min(ProcessRows(view, shown), 3);
        const bool blocks = OverviewRows(view.gpus.size(), COLS, true) + fewProcesses <= rows;
        viewRows = std::max(
            0, std::min(OverviewRows(view.gpus.size(), COLS, blocks), rows - fewProcesses));
        const int wanted = view.processesShown
                               ? (shown.offered ? static_cast<int>(shown.processes.size()) + 2 : 1)
                               : 0;
        processRows = std::max(0, std::min(wanted, rows - viewRows));
        DrawOverview(view, viewRows, blocks);
    } else {
        DrawGraphs(view, viewRows);
    }
    if (processRows > 0) DrawProcesses(view, shown, viewRows, processRows);
    if (view.help) DrawHelp();
    DrawStatus(view);
    wnoutrefresh(stdscr);
    doupdate();
}

// Colour where the terminal has it and the user did not turn it off; the bar's scale from
// green to red, in 256 colours where there are that many.
void StartColours(View& view, bool allowed) {
    view.colour = allowed && has_colors();
    if (view.colour) {
        start_color();
        use_default_colors();
        const short wide[kHeatSteps] = {40, 148, 220, 208, 196};
        const short basic[kHeatSteps] = {COLOR_GREEN, COLOR_GREEN, COLOR_YELLOW, COLOR_YELLOW,
                                         COLOR_RED};
        for (int step = 0; step < kHeatSteps; ++step)
            init_pair(static_cast<short>(kPairHeat + step),
                      COLORS >= 256 ? wide[step] : basic[step], -1);
        init_pair(kPairMark, COLOR_RED, -1);
        init_pair(kPairHeading, COLOR_CYAN, -1);
        init_pair(kPairPaused, COLOR_BLACK, COLOR_YELLOW);
    }
    const wchar_t space[2] = {L' ', L'\0'};
    for (size_t kind = 0; kind < view.styles.size(); ++kind) {
        const attr_t attribute = AttributeOf(static_cast<char>(kind), view.colour);
        setcchar(&view.styles[kind], space, attribute & ~A_COLOR,
                 static_cast<short>(PAIR_NUMBER(attribute)), nullptr);
    }
}

// Block characters where the locale's characters are UTF-8.
ChartGlyphs GlyphsForLocale() {
    const char* codeset = nl_langinfo(CODESET);
    const bool utf8 = codeset != nullptr && strcmp(codeset, "UTF-8") == 0;
    return utf8 ? ChartGlyphs::kBlocks : ChartGlyphs::kAscii;
}

// NO_COLOR, set and not empty, turns colour off, as many terminal programs agree.
bool ColourWanted(bool noColour) {
    const char* setting = getenv("NO_COLOR");
    return !noColour && (setting == nullptr || setting[0] == '\0');
}

// A new pace counts from the last round, not from the deadline the old pace set.
void StepPace(View& view, int direction) {
    view.intervalMs = StepInterval(view.intervalMs, view.startIntervalMs, direction);
    if (view.schedule != nullptr) view.schedule->SetInterval(view.intervalMs, Clock::now());
}

constexpr int kInputEnded = -2;

// After getch found no key: whether input has ended (a hang-up, or input that reads as
// nothing although it is readable: the end of a file), so that the view leaves instead
// of spinning. Otherwise a key that came just now, or ERR.
int KeyOrEnd() {
    switch (plat_stdin_state()) {
        case PlatInputState::kNothing:
            return ERR;
        case PlatInputState::kEnded:
            return kInputEnded;
        case PlatInputState::kReadable:
            break;
    }
    timeout(0);
    const int key = getch();
    return key == ERR ? kInputEnded : key;
}

int NextGpu(const View& view) {
    for (const OverviewGpu& gpu : view.gpus)
        if (view.gpu == kNoGpu || gpu.gpu > view.gpu) return gpu.gpu;
    return kNoGpu;
}

// Handles one key; false when the view is to end.
bool HandleKey(int key, View& view) {
    switch (key) {
        case 'q':
        case 'Q':
            return false;
        case 27:  // Esc: closes the keys, or the view
            if (!view.help) return false;
            view.help = false;
            break;
        case '?':
        case 'h':
            view.help = !view.help;
            break;
        case ' ':
            view.paused = !view.paused;
            break;
        case '+':
            StepPace(view, -1);
            break;
        case '-':
            StepPace(view, +1);
            break;
        case 'j':
        case KEY_DOWN:
            ++view.scroll;
            break;
        case 'k':
        case KEY_UP:
            view.scroll = std::max(0, view.scroll - 1);
            break;
        case KEY_NPAGE:
            view.scroll += LINES - 2;
            break;
        case KEY_PPAGE:
            view.scroll = std::max(0, view.scroll - (LINES - 2));
            break;
        case 'p':
            view.processesShown = !view.processesShown;
            break;
        case 'o':
            view.order = NextProcessOrder(view.order);
            break;
        case '[':
            view.processFirst = view.processFirst > 0 ? view.processFirst - 1 : 0;
            break;
        case ']':
            ++view.processFirst;
            break;
        case 'v':
            view.overview = !view.overview && !view.gpus.empty();
            view.scroll = 0;
            break;
        case 'n':  // all, then each GPU in turn, then all again
            view.gpu = NextGpu(view);
            view.scroll = 0;
            view.processFirst = 0;
            break;
        default:
            break;  // KEY_RESIZE and anything else: just redraw
    }
    return true;
}

}  // namespace

int RunWatch(const std::vector<HostSource>& sources, uint32_t intervalMs, bool noColour,
             const std::function<GpuProcessRound()>& processes, const RoundLoop& loop) {
    intervalMs = std::min<uint32_t>(std::max<uint32_t>(intervalMs, 10), 3600000);
    View view{&sources, std::vector<SourceHistory>(sources.size(), SourceHistory(0)), intervalMs,
              intervalMs};
    view.takeProcesses = processes;
    // Sources that show GPUs open on their overview; others on their graphs.
    view.gpus = OverviewGpus(sources);
    view.overview = !view.gpus.empty();
    PollSchedule schedule(intervalMs);
    view.schedule = &schedule;
    setlocale(LC_ALL, "");
    set_escdelay(25);
    if (initscr() == nullptr) {
        fprintf(stderr, "zarmite-host: the terminal cannot be driven\n");
        return 1;
    }
    // Ctrl+C ends the view like q: the terminal is restored, the plug-in unloaded.
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A hang-up ends it too, unless the user ran it with hang-ups ignored (nohup): then
    // the end of the terminal's input does.
    struct sigaction hangUp {};
    if (sigaction(SIGHUP, nullptr, &hangUp) == 0 && hangUp.sa_handler != SIG_IGN)
        sigaction(SIGHUP, &action, nullptr);
    cbreak();
    noecho();
    keypad(stdscr, TRUE);
    curs_set(0);
    StartColours(view, ColourWanted(noColour));
    view.glyphs = GlyphsForLocale();
    FitHistories(view);

    // The view draws the rounds of the host's one loop; paused, it keeps what it shows
    // while the rounds go on for the other outputs.
    const RoundConsumer draw = [&](const HostRound& round) {
        if (!view.paused) {
            for (size_t i = 0; i < round.values.size(); ++i) view.histories[i].Add(round.values[i]);
            if (view.takeProcesses) view.processes = view.takeProcesses();
            view.processes.clients = {};  // the rows are what the view shows: copied cheaply
        }
        return RoundVerdict{false, 0};
    };
    // Between rounds: redraw, and take keys until the next round is due.
    const RoundWait keys = [&](PollSchedule& due) {
        for (;;) {
            if (g_interrupted || plat_termination_requested()) return false;
            Draw(view);
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(due.Next() - Clock::now())
                    .count();
            if (left <= 0) return true;
            // Woken at least every quarter second, for Ctrl+C.
            timeout(static_cast<int>(std::min<long long>(left, 250)));
            int key = getch();
            if (key == ERR) key = KeyOrEnd();
            if (key == kInputEnded) return false;
            if (key != ERR && !HandleKey(key, view)) return false;
        }
    };
    const int status = loop(schedule, draw, keys);
    endwin();
    return status;
}

double TimeRedraw(size_t count, int width, int height, int redraws) {
    std::vector<HostSource> sources;
    for (size_t i = 0; i < count; ++i) {
        sources.push_back(HostSource{static_cast<uint32_t>(i), true, "source " + std::to_string(i),
                                     "%", "", "group " + std::to_string(i / 8), 100, 0, 25});
    }
    View view{&sources, std::vector<SourceHistory>(count, SourceHistory(1000)), 1000, 1000};
    view.processesShown = false;  // the charts alone, as measured before there were processes
    for (size_t i = 0; i < count; ++i)
        for (size_t k = 0; k < 1000; ++k)
            view.histories[i].Add(static_cast<float>((k * 7 + i) % 120));
    FILE* out = fopen("/dev/null", "w");
    FILE* in = fopen("/dev/null", "r");
    if (out == nullptr || in == nullptr) return -1;
    SCREEN* screen = newterm("xterm-256color", out, in);
    if (screen == nullptr) return -1;
    resizeterm(height, width);
    StartColours(view, true);
    view.glyphs = GlyphsForLocale();
    // Processor time, not wall time: other work on a busy machine does not count.
    const std::clock_t start = std::clock();
    for (int r = 0; r < redraws; ++r) {
        view.histories[r % count].Add(static_cast<float>(r % 100));
        view.scroll = 0;
        Draw(view);
    }
    const double total = 1000.0 * static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    endwin();
    delscreen(screen);
    fclose(out);
    fclose(in);
    return total / redraws;
}
