#include "plugin.hpp"

namespace vantor {

plugin_t::~plugin_t() = default;

}  // namespace vantor
