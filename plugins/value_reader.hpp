#pragma once

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "exception.hpp"
#include "plugin.hpp"
#include "transcoder_options.hpp"

namespace vantor::transcoder_options {

// Reads the attributes of a transcoder configuration into a module's typed
// options record, refusing every attribute the module does not know. The
// table is built once, at module load, and only read afterwards, so one
// reader serves concurrent creates.
template <typename options_t>
class value_reader_t {
 public:
  // One field of `options_t` that an attribute can set.
  class impl_t {
   public:
    virtual void read(options_t& options, std::string_view name, std::string_view attribute,
                      std::string_view value) const = 0;
    virtual ~impl_t() = default;
  };

  template <typename member_pointer_t>
  class field_impl_t final : public impl_t {
    static_assert(std::is_same_v<member_pointer_t, unsigned int options_t::*>,
                  "options are unsigned int members");

   public:
    explicit field_impl_t(member_pointer_t member) : member_(member) {}

    void read(options_t& options, std::string_view name, std::string_view attribute,
              std::string_view value) const override {
      read_transcoder_option(options.*member_, name, attribute, value);
    }

   private:
    member_pointer_t member_;
  };

  using field_t = std::pair<std::string, std::shared_ptr<impl_t>>;
  using member_t = unsigned int options_t::*;

  // A reader that knows no attribute.
  value_reader_t() = default;

  explicit value_reader_t(std::initializer_list<std::pair<const char*, member_t>> fields) {
    fields_.reserve(fields.size());
    for (const auto& [name, member] : fields)
      fields_.emplace_back(name, std::make_shared<field_impl_t<member_t>>(member));
    // std::string's ordering compares bytes as unsigned, shorter first on a tie.
    std::sort(fields_.begin(), fields_.end(),
              [](const field_t& a, const field_t& b) { return a.first < b.first; });
  }

  // Applies every attribute in order (a repeated one is parsed again, the
  // last wins); the first unknown one throws and ends the reading.
  void read(options_t& options, std::string_view name,
            const std::vector<transcoder_attribute_t>& attributes) const {
    for (const auto& [attribute, value] : attributes) {
      auto const found = std::lower_bound(
          fields_.begin(), fields_.end(), attribute,
          [](const field_t& field, const std::string& key) { return field.first < key; });
      if (found == fields_.end() || found->first != attribute) {
        throw (exception_builder_t(vantor_result_check_failed)
               << name << ": unknown attribute '" << attribute
               << "' for this transcoder implementation.")
            .exception();
      }
      found->second->read(options, name, found->first, value);
    }
  }

  const std::vector<field_t>& fields() const noexcept { return fields_; }

 private:
  std::vector<field_t> fields_;
};

}  // namespace vantor::transcoder_options
