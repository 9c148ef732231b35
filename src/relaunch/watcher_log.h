// The watcher log: a plain-text file beside this executable, named after it
// with ".log" appended ("RemoteUpdater.exe.log"), one line per watcher event.
#pragma once

#include <string>

// Appends `message`, byte for byte, and CR LF to the watcher log, creating
// the file when it does not exist yet. Earlier content is never touched.
// The file is opened and closed again within the call, sharing read and
// write access, so a viewer may hold it open meanwhile.
// Reports nothing: when the module path is unavailable or the file cannot be
// opened (folder not writable, file locked without sharing) the line is
// dropped, and a failed or short write is ignored.
void AppendWatcherLogLine(const std::string& message);
