#include "ProbeCommand.h"

#include "FailureOutput.h"
#include "probe/AVProbe.h"

#include <exception>

namespace tarnel::cli {

int ProbeFiles(const std::vector<std::string>& files, std::ostream& out, std::ostream& errors,
               double timeoutSeconds) {
    int status = 0;
    bool first = true;
    TAVProbe probe;
    probe.SetTimeout(timeoutSeconds);
    for (const std::string& file : files) {
        try {
            if (!probe.Open(file)) {
                PrintFailure(errors, probe.LastError());
                status = 1;
                continue;
            }
        } catch (const std::exception& e) {
            errors << e.what() << "\n";
            return 1;
        }
        out << (first ? "" : "\n") << probe.InfoText() << "\n";
        first = false;
        probe.Close();
    }
    return status;
}

} // namespace tarnel::cli
