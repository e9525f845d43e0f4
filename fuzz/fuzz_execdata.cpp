// libFuzzer target: reading "execdata.txt" from memory.  A rejected input
// ends in one of the reader's typed errors; any other exception, a crash or
// a sanitizer report is a finding.  An odd-sized input is read for the
// legacy model, an even-sized one for the corrected model.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/errors.hpp"
#include "input/input_reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const mps::Model model = size % 2 == 1 ? mps::Model::legacy : mps::Model::corrected;
  try {
    const mps::RunInput input = mps::read_execdata("/fuzz/", "/fuzz/execdata.txt", text, model);
    static_cast<void>(input);
  } catch (const mps::ParameterError&) {
  } catch (const mps::ReadError&) {
  } catch (const mps::FatalMessage&) {
  } catch (const mps::IoError&) {
  }
  return 0;
}
