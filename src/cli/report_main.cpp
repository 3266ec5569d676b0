#include "report.h"
#include "core/settings/config_file.h"

#include "core/base/platform.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    logdesk::KeepWritingPastFileSizeLimit();
    std::vector<std::string> args(argv + 1, argv + argc);
    logdesk::FileSink out = logdesk::FileSink::ForDescriptor(1);
    std::string messages;
    // The settings folder of the desktop program installed beside this one:
    // where the published crawler ranges are kept.
    std::string executable = argc > 0 ? argv[0] : "";
    const std::size_t slash = executable.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : executable.substr(0, slash);
    std::string settings = logdesk::ConfigFilePath(dir);
    settings = settings.substr(0, settings.rfind('/'));
    int code = logdesk::RunReport(args, out, messages, 0, settings);
    if (const logdesk::Result<void> closed = out.close(); !closed && code == 0) {
        messages += "logdesk-report: standard output: " + closed.error().reason() + "\n";
        code = 1;
    }
    std::fputs(messages.c_str(), stderr);
    return code;
}
