// Waiting for the click loader without polling: on its own signal
// (ClickLoader::SetOnAnswered), each round it answers.
#pragma once

#include <chrono>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

#include "sound/clips/click_loader.h"
#include "support/watched.h"

namespace pendlo::testing {

// Waits until `ready` holds, looked at after each round the loader answers,
// or `limit` passes. `ready` may ask the loader (Get asks it to look again,
// so the loader keeps answering while it is false).
inline bool WaitForLoader(sound::clips::ClickLoader& loader, const std::function<bool()>& ready,
                          std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  // Shared with the hook, which may run once more after it is taken away.
  auto answered = std::make_shared<Watched>();
  loader.SetOnAnswered([answered] { answered->Changed(); });
  const bool ok = answered->Await(ready, limit);
  loader.SetOnAnswered(nullptr);
  return ok;
}

// Asks for `paths` and waits until each is decoded in the loader's format
// (no longer the fallback tone), as the window has them read ahead.
inline bool WaitUntilLoaded(sound::clips::ClickLoader& loader,
                            std::initializer_list<std::string> paths) {
  for (const std::string& path : paths) loader.Request(path);
  return WaitForLoader(loader, [&] {
    for (const std::string& path : paths)
      if (loader.Get(path) == loader.Fallback()) return false;
    return true;
  });
}

}  // namespace pendlo::testing
