// The web page's entry: the same dialogue, with its standard streams wired to
// the page that loads this module (or to the node driver of the tests).
#include "dialogue.h"

#include <cstdio>
// EM_JS's own header, <emscripten/em_js.h>, needs another before it in
// Debian 12's emscripten; this one brings both.
#include <emscripten.h>
// fopencookie and ssize_t are the C library's (POSIX and GNU): <cstdio>
// need not declare them.
#include <stdio.h>

namespace {

// Suspends the program until the page has input for it, then copies at most
// `size` bytes; the rest waits for the next read. As a terminal's read, it
// returns a line with its end, the text before a Ctrl-D without one, or no
// bytes at all: the end of input.
EM_ASYNC_JS(int, wait_for_input, (char *buffer, size_t size), {
    if (!Module.unread || !Module.unread.length)
        Module.unread = await Module.readInput();
    const bytes = Module.unread.subarray(0, size);
    Module.unread = Module.unread.subarray(bytes.length);
    HEAPU8.set(bytes, buffer);
    return bytes.length;
});

EM_JS(void, show_output, (const char *bytes, size_t count),
      { Module.writeOutput(HEAPU8.slice(bytes, bytes + count)); });

EM_JS(void, report_end, (), { Module.runEnded(); });

ssize_t read_from_page(void * /*cookie*/, char *buffer, size_t size)
{
    return wait_for_input(buffer, size);
}

ssize_t write_to_page(void * /*cookie*/, const char *bytes, size_t count)
{
    show_output(bytes, count);
    return static_cast<ssize_t>(count);
}

} // namespace

int main()
{
    // One function a stream. The others are named as null all the same, or
    // clang 19 warns that they are missing.
    std::FILE *in =
        fopencookie(nullptr, "r",
                    {.read = read_from_page, .write = nullptr, .seek = nullptr, .close = nullptr});
    std::FILE *out = fopencookie(
        nullptr, "w", {.read = nullptr, .write = write_to_page, .seek = nullptr, .close = nullptr});
    pathloss::run_dialogue(in, out);
    std::fclose(out);
    std::fclose(in);
    report_end();
    return 0;
}
