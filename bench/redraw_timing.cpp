// zarmite-redraw-timing: how long the live view takes to redraw, on a terminal that
// writes to nothing: 16 and 100 sources, at 80 x 24 and on a screen large enough to show
// every panel, in colour and block characters (a UTF-8 locale). A redraw must never be what
// limits the host's polling pace. Processor time, the best of three means of 200 redraws,
// so that a busy machine does not make the figure.
#include <clocale>
#include <cstdio>

#include "watch_view.h"

int main() {
    if (setlocale(LC_ALL, "C.UTF-8") == nullptr) setlocale(LC_ALL, "");
    struct Case {
        size_t sources;
        int width;
        int height;
    };
    const Case cases[] = {{16, 80, 24}, {100, 80, 24}, {16, 200, 70}, {100, 200, 240}};
    double worst = 0;
    for (const Case& c : cases) {
        double ms = -1;
        for (int run = 0; run < 3; ++run) {
            const double mean = TimeRedraw(c.sources, c.width, c.height, 200);
            if (mean < 0) {
                fprintf(stderr, "zarmite-redraw-timing: no terminal to draw on\n");
                return 1;
            }
            if (ms < 0 || mean < ms) ms = mean;
        }
        if (ms > worst) worst = ms;
        printf("%3zu sources on %3d x %3d: %.3f ms a redraw (best mean of 3 x 200)\n", c.sources,
               c.width, c.height, ms);
    }
    return worst < 2.0 ? 0 : 1;
}
