#include "dialogue.h"

#include <csignal>
#include <cstdio>

// Arguments and environment are ignored on purpose: the calculator is always
// the same two questions.
int main()
{
#ifdef SIGPIPE
    // A reader that goes away early must not turn the run into a failure;
    // the exit status is 0 whatever becomes of the output.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    pathloss::run_dialogue(stdin, stdout);
    return 0;
}
