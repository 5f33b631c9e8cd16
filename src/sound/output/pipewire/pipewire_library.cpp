#include "sound/output/pipewire/pipewire_library.h"

#include <spa/param/audio/format-utils.h>
#include <spa/pod/builder.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>

#include "sound/output/shared_library.h"

namespace pendlo::sound::output::pipewire {
namespace {

LoadedLibrary<PipeWireLibrary> Load() {
  LoadedLibrary<PipeWireLibrary> loaded = LoadLibrary<PipeWireLibrary>(
      "libpipewire-0.3.so.0", "libpipewire", [](SymbolFinder& find, PipeWireLibrary& table) {
        return true PENDLO_PIPEWIRE_FUNCTIONS(PENDLO_LIBRARY_FIND);
      });
  if (loaded.table) loaded.table->Init(nullptr, nullptr);
  return loaded;
}

HeldLibrary<PipeWireLibrary>& Held() {
  static HeldLibrary<PipeWireLibrary> held(&Load, [](const PipeWireLibrary& pw) { pw.Deinit(); });
  return held;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

const PipeWireLibrary* AcquirePipeWire(std::string* why) {
  return Held().Acquire(why);
}

void ReleasePipeWire() {
  Held().Release();
}

const PipeWireLibrary* LoadPipeWire(std::string* why) {
  // One hold never released: the caller keeps the library for good.
  struct Kept {
    const PipeWireLibrary* library = nullptr;
    std::string error;
  };
  static const Kept kept = [] {
    Kept k;
    k.library = AcquirePipeWire(&k.error);
    return k;
  }();
  if (kept.library == nullptr && why != nullptr) *why = kept.error;
  return kept.library;
}

bool PipeWireSocketPresent() {
  const char* remote = std::getenv("PIPEWIRE_REMOTE");
  if (remote != nullptr && *remote != '\0') return true;
  bool looked = false;
  for (const char* variable : {"PIPEWIRE_RUNTIME_DIR", "XDG_RUNTIME_DIR", "USERPROFILE"}) {
    const char* dir = std::getenv(variable);
    if (dir == nullptr || *dir == '\0') continue;
    looked = true;
    if (Exists(std::string(dir) + "/pipewire-0")) return true;
  }
  // With none of them set, only the library knows where to look.
  return !looked;
}

namespace {

pw_context* MinimalContext(const PipeWireLibrary& pw, pw_loop* loop) {
  // "null" reads no file; the properties are the default client
  // configuration's own, without its D-Bus plugin (no module here uses it).
  pw_properties* props = pw.PropertiesNew(PW_KEY_CONFIG_NAME, "null", "log.level", "0",
                                          "support.dbus", "false", nullptr);
  if (props == nullptr) return nullptr;
  pw_context* context = pw.ContextNew(loop, props, 0);  // takes props, also on failure
  if (context == nullptr) return nullptr;
  bool ok =
      pw.ContextAddSpaLib(context, "audio.convert.*", "audioconvert/libspa-audioconvert") >= 0 &&
      pw.ContextAddSpaLib(context, "support.*", "support/libspa-support") >= 0;
  for (const char* module : {"libpipewire-module-protocol-native", "libpipewire-module-client-node",
                             "libpipewire-module-adapter"}) {
    ok = ok && pw.ContextLoadModule(context, module, nullptr, nullptr) != nullptr;
  }
  if (!ok) {
    pw.ContextDestroy(context);
    return nullptr;
  }
  return context;
}

}  // namespace

pw_context* NewPlaybackContext(const PipeWireLibrary& pw, pw_loop* loop) {
  // A library that knows no "null" configuration gets the default one.
  if (pw_context* context = MinimalContext(pw, loop)) return context;
  return pw.ContextNew(loop, nullptr, 0);
}

bool ConnectFloatStream(const PipeWireLibrary& pw, pw_stream* stream, pw_direction direction,
                        int rate, int channels) {
  std::uint8_t buffer[1024];
  spa_pod_builder builder{};
  spa_pod_builder_init(&builder, buffer, sizeof buffer);
  spa_audio_info_raw info{};
  info.format = SPA_AUDIO_FORMAT_F32;
  info.rate = static_cast<std::uint32_t>(rate);
  info.channels = static_cast<std::uint32_t>(channels);
  if (channels == 1) {
    info.position[0] = SPA_AUDIO_CHANNEL_MONO;
  } else {
    info.position[0] = SPA_AUDIO_CHANNEL_FL;
    info.position[1] = SPA_AUDIO_CHANNEL_FR;
  }
  const spa_pod* params[1] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
  const auto flags = static_cast<pw_stream_flags>(
      PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
  return pw.StreamConnect(stream, direction, PW_ID_ANY, flags, params, 1) >= 0;
}

}  // namespace pendlo::sound::output::pipewire
