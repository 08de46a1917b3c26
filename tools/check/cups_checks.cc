// The scheduler's side: does it answer, does it list the backend as lpinfo -v would, and how are
// the queues whose device is virtual-printer: doing. Asked through libcups, which finds the
// scheduler as every CUPS client does.

#include <cups/cups.h>

#include <sstream>
#include <string>
#include <vector>

#include "config/device_options.h"
#include "tools/check/checks.h"

namespace vp {

namespace {

constexpr char kScheme[] = "virtual-printer";
constexpr int kDeviceListingSeconds = 5;

struct Queue {
  std::string name;
  std::string deviceUri;
  int state = 0;
  std::vector<std::string> reasons;
  std::string message;
  bool accepting = true;
  int cancelAfter = 0;  // job-cancel-after-default: the scheduler cancels a job after it; 0 never
};

bool IsOurs(const std::string& uri) {
  return uri.starts_with(std::string(kScheme) + ":");
}

std::string Joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words)
    text += (text.empty() ? "" : ", ") + word;
  return text;
}

// The printers of the scheduler's answer, one per attribute group.
std::vector<Queue> QueuesOf(ipp_t* answer) {
  std::vector<Queue> queues;
  Queue queue;
  for (ipp_attribute_t* at = ippFirstAttribute(answer); at != nullptr;) {
    ipp_attribute_t* next = ippNextAttribute(answer);
    const char* name = ippGetName(at);
    std::string key = name != nullptr ? name : "";
    if (ippGetGroupTag(at) == IPP_TAG_PRINTER) {
      if (key == "printer-name")
        queue.name = ippGetString(at, 0, nullptr);
      else if (key == "device-uri")
        queue.deviceUri = ippGetString(at, 0, nullptr);
      else if (key == "printer-state")
        queue.state = ippGetInteger(at, 0);
      else if (key == "printer-state-message")
        queue.message = ippGetString(at, 0, nullptr);
      else if (key == "printer-is-accepting-jobs")
        queue.accepting = ippGetBoolean(at, 0) != 0;
      else if (key == "job-cancel-after-default" && ippGetValueTag(at) == IPP_TAG_INTEGER)
        queue.cancelAfter = ippGetInteger(at, 0);
      else if (key == "printer-state-reasons")
        for (int i = 0; i < ippGetCount(at); ++i)
          queue.reasons.push_back(ippGetString(at, i, nullptr));
    }
    // A nameless attribute, or the end, closes a printer's group.
    if ((name == nullptr || next == nullptr) && !queue.name.empty()) {
      queues.push_back(queue);
      queue = Queue{};
    }
    at = next;
  }
  return queues;
}

// The device URI's wait=SECONDS, read as the backend reads it.
int WaitSeconds(const std::string& deviceUri) {
  std::ostringstream ignored;
  return ReadDeviceOptions(ignored, deviceUri).waitSeconds;
}

std::string WaitText(int wait) {
  if (wait == 0)
    return "a server that cannot be reached stops the queue (no wait)";
  return "waits " + std::to_string(wait) + " s" + (wait >= 60 ? " (" + HumanAge(wait) + ")" : "") +
         " for a server that cannot be reached";
}

CheckLine QueueLine(const Queue& queue) {
  const std::string name = "queue " + queue.name;
  std::string detail = queue.deviceUri;
  detail += queue.state == IPP_PSTATE_IDLE         ? ", idle"
            : queue.state == IPP_PSTATE_PROCESSING ? ", printing"
                                                   : ", stopped";
  if (!queue.reasons.empty() && queue.reasons != std::vector<std::string>{"none"})
    detail += " (" + Joined(queue.reasons) + ")";
  if (!queue.message.empty())
    detail += ": \"" + queue.message + "\"";
  const int wait = WaitSeconds(queue.deviceUri);
  detail += "; " + WaitText(wait);
  if (queue.state == IPP_PSTATE_STOPPED)
    return Fail(
        name, detail + "; its jobs wait",
        "fix what stopped it (the checks above, the job log), then: cupsenable " + queue.name);
  if (!queue.accepting)
    return Warn(name, detail + ", rejecting new jobs", "cupsaccept " + queue.name);
  // The scheduler's MaxJobTime (3 hours by default), or the queue's own setting.
  if (queue.cancelAfter > 0 && queue.cancelAfter < wait)
    return Warn(name,
                detail + ", but the scheduler cancels a job after " +
                    std::to_string(queue.cancelAfter) + " s (job-cancel-after-default)",
                "lpadmin -p " + queue.name +
                    " -o job-cancel-after-default=" + std::to_string(wait + 10800));
  return Ok(name, detail);
}

ipp_t* AskPrinters() {
  static const char* const kWanted[] = {"printer-name",
                                        "device-uri",
                                        "printer-state",
                                        "printer-state-reasons",
                                        "printer-state-message",
                                        "printer-is-accepting-jobs",
                                        "job-cancel-after-default"};
  ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                sizeof kWanted / sizeof kWanted[0], nullptr, kWanted);
  return cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
}

// What lpinfo -v asks, limited to this backend's scheme.
CheckLine DeviceListingLine() {
  ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_DEVICES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "include-schemes", nullptr, kScheme);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "timeout", kDeviceListingSeconds);
  ipp_t* answer = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
  if (cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE) {
    ippDelete(answer);
    return Warn("device listing",
                std::string("the scheduler lists no devices: ") + cupsLastErrorString(),
                "compare with lpinfo -v, which needs cups-deviced (Debian: package cups)");
  }
  std::string listed;
  for (ipp_attribute_t* at = ippFindAttribute(answer, "device-uri", IPP_TAG_URI); at != nullptr;
       at = ippFindNextAttribute(answer, "device-uri", IPP_TAG_URI)) {
    if (IsOurs(ippGetString(at, 0, nullptr)))
      listed = ippGetString(at, 0, nullptr);
  }
  ippDelete(answer);
  if (listed.empty())
    return Fail("device listing", "lpinfo -v does not list virtual-printer:/",
                "CUPS lists the backends it can run: see the backend line above");
  return Ok("device listing", "lpinfo -v lists " + listed);
}

}  // namespace

void CheckScheduler(Report& report) {
  ipp_t* answer = AskPrinters();
  // No queue at all is an answer too (not found).
  if (answer == nullptr && cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND) {
    report.push_back(
        Fail("CUPS scheduler",
             std::string("no answer at ") + cupsServer() + ": " + cupsLastErrorString(),
             "start CUPS (systemctl start cups)"));
    return;
  }
  report.push_back(Ok("CUPS scheduler", std::string("answers at ") + cupsServer()));
  std::vector<Queue> queues = QueuesOf(answer);
  ippDelete(answer);
  report.push_back(DeviceListingLine());
  bool any = false;
  for (const Queue& queue : queues) {
    if (IsOurs(queue.deviceUri)) {
      report.push_back(QueueLine(queue));
      any = true;
    }
  }
  if (!any)
    report.push_back(Warn("queues", "no queue's device is virtual-printer:/",
                          "lpadmin -p NAME -E -v virtual-printer:/ -P driver.ppd"));
}

}  // namespace vp
