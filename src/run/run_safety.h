#pragma once
// What both programs do before anything else, so that a request to end the program is a stop
// request like the stop button and nothing an earlier run left is lost or lingers: termination
// signals are caught, files that an earlier version left aside are put back and the work
// folders of runs that were killed are removed.
#include <functional>
#include <string>
#include <vector>

#include "app/host.h"
#include "search/search_flags.h"

namespace ferretta::run {

// SIGINT, SIGTERM, SIGHUP and SIGQUIT become a stop request: the running search unwinds as
// after the stop button (programs it started are ended, its work folder removed) and
// the front end then ends. A second such signal ends the program at once; what a search had
// left is then cleared away at the next start. SIGPIPE is ignored (a closed output is an
// error of the write, not the end of the program). Installing twice changes nothing.
void installStopSignals();

// True once one of those signals has arrived.
bool stopSignalReceived();

// A descriptor that becomes readable when the first of those signals arrives, for an event
// loop to watch; -1 before installStopSignals.
int stopSignalDescriptor();

// For an office working for a search: lets the host's events run and answers false once the
// user asked the running search to stop, so that a long office call ends at once.
std::function<bool()> officeKeepWaiting(app::Host& host, const search::SearchFlags& flags);

// installStopSignals, then removes the work folders of runs that were killed and puts back
// what earlier versions left aside. Answers one message for
// the user for each file that could not be put back: "一時的に移動したファイルを元に戻せません
// でした", CR, "<temporary name> → <its place>", CR, the reason. Such a file stays under its
// temporary name and the next start tries again.
std::vector<std::string> prepareRun();

}  // namespace ferretta::run
