#include "ui/update_session.h"

#include <system_error>

#include "firmware/image_origin.h"
#include "protocol/reply_dispatcher.h"
#include "protocol/string_table.h"
#include "protocol/update_worker.h"

namespace q9m::ui {

UpdateSession::UpdateSession(protocol::DeviceState& device) : context_(inPort_, outPort_, device) {}

UpdateSession::~UpdateSession() {
  Close();
  timer_.Stop();  // no tick may reach the ports or the context once they start to go
}

void UpdateSession::StartTimer() {
  protocol::StartReplyDispatcher(timer_, context_);
}

UpdateSession::ExecuteResult UpdateSession::Execute(int outIndex, int inIndex,
                                                    protocol::UpdateView& view) {
  const ExecuteResult opened = OpenPorts(outIndex, inIndex);
  return opened == ExecuteResult::Started ? Start(view) : opened;
}

UpdateSession::ExecuteResult UpdateSession::OpenPorts(int outIndex, int inIndex) {
  if (busy_.load()) return ExecuteResult::Busy;
  if (Closed()) return ExecuteResult::Busy;
  if (!firmware::UpdatesAllowed()) return ExecuteResult::StandInImages;
  outPort_.Close();
  if (outIndex == kNoSelection || outPort_.Open(static_cast<uint32_t>(outIndex)) != 1) {
    return ExecuteResult::CantOpenOut;
  }
  inPort_.Close();
  inPort_.deviceIndex = static_cast<uint32_t>(inIndex);
  if (inIndex == kNoSelection || inPort_.Start() != 1) return ExecuteResult::CantOpenIn;
  return ExecuteResult::Started;
}

UpdateSession::ExecuteResult UpdateSession::Start(protocol::UpdateView& view) {
  if (busy_.load() || Closed()) return ExecuteResult::Busy;
  busy_.store(true);
  context_.replyEvent.Reset();
  // The previous worker has reported its end (the busy flag was clear); collect its thread.
  if (worker_.joinable()) worker_.join();
  try {
    worker_ = startThread_(
        [this, &view, options = options_] { protocol::RunUpdate(context_, view, options); });
  } catch (const std::system_error&) {
    busy_.store(false);  // no thread, so nothing was sent
    return ExecuteResult::NoThread;
  }
  return ExecuteResult::Started;
}

std::string UpdateSession::RefusalText(ExecuteResult result) {
  switch (result) {
    case ExecuteResult::Started:
      return {};
    case ExecuteResult::Busy:
      return protocol::LoadString(protocol::IDS_IN_PROGRESS);
    case ExecuteResult::StandInImages:
      return firmware::StandInRefusalText();
    case ExecuteResult::CantOpenOut:
      return protocol::LoadString(protocol::IDS_CANT_OPEN_MIDI_OUT);
    case ExecuteResult::CantOpenIn:
      return protocol::LoadString(protocol::IDS_CANT_OPEN_MIDI_IN);
    case ExecuteResult::NoThread:
      // The string table has no text for this: the update could not be carried out.
      return protocol::LoadString(protocol::IDS_TRANSFER_ERROR);
  }
  return {};
}

void UpdateSession::Close() {
  if (!Closed()) {
    context_.closing.Raise();
    outPort_.Close();
    inPort_.Close();
    context_.replyStatus.store(protocol::kStatusClosing);
    context_.replyEvent.Set();
  }
  if (worker_.joinable()) worker_.join();
}

}  // namespace q9m::ui
