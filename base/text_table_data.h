// The program's fixed texts as stored in the executable: one zlib stream and the offset of each
// entry in the expanded bytes. Generated into text_table_data.cpp by resources/texts_gen.py.
#ifndef KELDRUN_BASE_TEXT_TABLE_DATA_H_
#define KELDRUN_BASE_TEXT_TABLE_DATA_H_

#include <cstddef>
#include <cstdint>

namespace keldrun {

constexpr int kTextSlots = 130;  // entries 0..128, then a slot holding 0

extern const size_t kTextExpandedSize;
extern const size_t kTextStreamSize;
extern const unsigned char kTextStream[];
extern const uint32_t kTextOffsets[kTextSlots];

}  // namespace keldrun

#endif  // KELDRUN_BASE_TEXT_TABLE_DATA_H_
