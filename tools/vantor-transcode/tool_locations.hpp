#pragma once

#include <string>

namespace vantor::tools {

// The folder of the running executable ("" when the system does not say).
std::string executable_folder();

// The bundled sample clip: share/vantor-ffmpeg/ of the installed tree, else
// the source tree's test data. Empty when neither holds it.
std::string bundled_clip_path();

// The plug-in modules next to the executable: <exe>/../plugins.
std::string default_plugins_folder();

}  // namespace vantor::tools
