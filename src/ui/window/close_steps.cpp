#include "ui/window/close_steps.h"

#include <exception>

#include "ui/desktop/window_position.h"
#include "ui/dialogs/window_errors.h"
#include "ui/threads/flash_scheduler.h"
#include "ui/widgets/definition_memo.h"
#include "ui/widgets/meter_radio_group.h"
#include "ui/widgets/tempo_scroll_bar.h"
#include "ui/window/window_builder.h"

namespace pendlo::ui {

Settings CurrentSettings(const MetronomeControls& controls, const WindowPosition& position) {
  const QPoint at = position.ToSave();
  return Settings{controls.scrBarTempo->Position(), controls.rgHyoushi->ItemIndex(), at.x(),
                  at.y()};
}

std::string FormClose(const CloseSources& from) {
  from.transport.Stop();
  from.flashes.Clear();
  if (from.session == nullptr) return {};  // no data directory, as start-up said
  DefinitionMemo* memo = from.controls.memList;
  const std::string kept = from.session->Save(CurrentSettings(from.controls, from.position),
                                              memo->TextUtf8(), memo->document()->isModified());
  // Saved: on disk now, not to be written again by a later close.
  memo->document()->setModified(false);
  return kept;
}

std::string SaveBeforeExit(const CloseSources& from) {
  try {
    return FormClose(from);
  } catch (const std::exception& e) {
    return e.what();
  }
}

bool CloseAndSave(const CloseSources& from, WindowErrors& errors,
                  const std::function<bool()>& saveTextElsewhere) {
  std::string failed;     // what the last save in the data directory said
  std::string elsewhere;  // what the last save elsewhere said
  bool save = true;       // in the data directory, before the question
  for (;;) {
    if (save) {
      try {
        const std::string kept = FormClose(from);
        if (!kept.empty()) errors.Show(kept);  // where the other version went
        return true;
      } catch (const std::exception& e) {
        failed = e.what();
      }
    }
    // A failed save elsewhere is said in the question, not in a box before
    // it: a box opened after a request to end had ended the one before
    // would wait for nobody.
    save = true;
    switch (errors.AskAfterFailedSave(elsewhere.empty() ? failed : elsewhere + "\n" + failed)) {
      case FailedSaveAnswer::kRetry:
        elsewhere.clear();
        break;
      case FailedSaveAnswer::kSaveElsewhere:
        try {
          return saveTextElsewhere();
        } catch (const std::exception& e) {
          elsewhere = e.what();
        }
        save = false;
        break;
      case FailedSaveAnswer::kExitWithoutSaving:
        return true;
      case FailedSaveAnswer::kStay:
        return false;
    }
  }
}

}  // namespace pendlo::ui
