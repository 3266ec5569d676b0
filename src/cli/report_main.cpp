#include "report.h"

#include "base/platform.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    logdesk::KeepWritingPastFileSizeLimit();
    std::vector<std::string> args(argv + 1, argv + argc);
    logdesk::FileSink out = logdesk::FileSink::ForDescriptor(1);
    std::string messages;
    int code = logdesk::RunReport(args, out, messages);
    if (const logdesk::Result<void> closed = out.close(); !closed && code == 0) {
        messages += "logdesk-report: standard output: " + closed.error().reason() + "\n";
        code = 1;
    }
    std::fputs(messages.c_str(), stderr);
    return code;
}
