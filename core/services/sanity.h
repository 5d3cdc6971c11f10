// The protocol trace: a diagnostic log of what the core exchanges with the sync server and of the
// key steps of registration and connection. It is kept in the file "sanity" of the data directory
// during the first 14 days after the first start on a device, and posted to the diagnostics
// endpoint when something went wrong. Sensitive values of logged JSON read "[redacted]".
//
// Files of the data directory:
//   sanity             the trace lines; emptied when a process starts tracing, deleted by stop
//   sanity_stop2       "stop\n"; while it exists tracing is off, in every later process too
//   sanity_inittime    the first start as decimal milliseconds since 1970; fixes the 14 days
//   sanity_send_later  "send\n"; asks for an upload at the next connection
//
// States: before initialize and after shut_down every function does nothing (start-up may log
// before the trace exists). After initialize, the trace is enabled until stop, or disabled from
// the start when the stop file is there. At most one upload happens per initialization.
//
// Threads: any. Writes of trace lines are serialised so lines never interleave; the disabled flag
// is atomic. Every file error is silent. The upload runs on the worker pool.
#pragma once

#include <memory>
#include <string>

#include "core/foundation/task_manager.h"
#include "jsonette/json.h"

namespace libkestrun::sanity {

// Starts (or restarts) the trace in `data_directory`; `dump_url` is where `upload` posts it.
void initialize(std::shared_ptr<TaskManager> task_manager, const std::string& data_directory,
                const std::string& dump_url);

// One line: thread id (0x...), "|", wall-clock ms, "|", steady ns since initialize, "|", text.
void log(const std::string& text);
// log of label, ": " and the compact JSON text of redact(value).
void log_json(const std::string& label, const jsonette::Json& value);

// A copy of `value` in which a string under a sensitive key reads "[redacted]" (an object or
// array under such a key is searched, not replaced) and "harnvik_credentials" is replaced whole.
jsonette::Json redact(const jsonette::Json& value);

// Posts the trace file as the part "sanity"; once per initialization, not while disabled.
void upload();
// Asks for an upload at the next send_if_requested.
void request_send_later();
// Ends the trace when its 14 days are over, then uploads when an upload was requested.
void send_if_requested();
// Turns tracing off for good on this device: writes the stop file, deletes the trace and the
// start time.
void stop();
// Ends the trace of this process, as before initialize; the files stay. The uploader, and the
// task it holds on the task manager, go now: the core's teardown calls it while the listeners of
// that task manager can still reach the core.
void shut_down();

}  // namespace libkestrun::sanity
