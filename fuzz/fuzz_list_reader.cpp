// libFuzzer target: the free-format reader on any text.  The first byte
// gives the number of items (1..8), the next ones their types; the rest is
// the text, read again and again until its end.  Besides crashes and
// sanitizer reports it checks what the reader promises: a read that stops
// before the end of the text goes past the line it started on, text items
// are cut to their length, and the counts stay within the item list.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "textio/list_directed.hpp"

namespace {

using mps::textio::ListItem;

struct Items {
  std::vector<std::int32_t> i32;
  std::vector<std::int64_t> i64;
  std::vector<double> reals;
  std::vector<std::string> texts;
  std::vector<std::size_t> text_lengths;
  std::vector<ListItem> list;
};

// Items from the type bytes: b % 4 picks int32, int64, real or text (of
// length 1 + (b / 4) % 16).  Storage is reserved first so pointers stay valid.
void make_items(std::string_view types, Items& items) {
  items.i32.reserve(types.size());
  items.i64.reserve(types.size());
  items.reals.reserve(types.size());
  items.texts.reserve(types.size());
  for (const char c : types) {
    const auto b = static_cast<unsigned char>(c);
    switch (b % 4) {
      case 0:
        items.list.emplace_back(&items.i32.emplace_back(7));
        break;
      case 1:
        items.list.emplace_back(&items.i64.emplace_back(-7));
        break;
      case 2:
        items.list.emplace_back(&items.reals.emplace_back(0.5));
        break;
      default:
        items.text_lengths.push_back(1 + (b / 4) % 16);
        items.list.emplace_back(
            mps::textio::TextItem{&items.texts.emplace_back("old"), items.text_lengths.back()});
    }
  }
}

void check(bool promise) {
  if (!promise) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t n = 1 + static_cast<unsigned char>(bytes[0]) % 8;
  if (bytes.size() < 1 + n) return 0;
  Items items;
  make_items(bytes.substr(1, n), items);
  auto cursor = mps::textio::LineCursor::from_text(bytes.substr(1 + n));
  for (std::size_t k = 0; k < cursor.size(); ++k) {
    check(mps::textio::count_tab_fields(cursor.line(k)) <= static_cast<int>(cursor.line(k).size()));
  }
  while (!cursor.at_end()) {
    const std::size_t before = cursor.next_index();
    const auto r = mps::textio::read_list(cursor, items.list);
    check(r.assigned <= n && r.failed_item <= n);
    for (std::size_t t = 0; t < items.texts.size(); ++t) {
      check(items.texts[t] == "old" || items.texts[t].size() <= items.text_lengths[t]);
    }
    if (r.status == mps::textio::ReadStatus::end_of_file) break;
    check(cursor.next_index() > before);
  }
  return 0;
}
