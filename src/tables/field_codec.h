// The field codec: a field's bytes inside a record to a typed value and its
// text form, and a text to the field's bytes (layout and types in
// table_format.h).
//
// Texts are GBK. A fixed-width text is written as its bytes and one zero
// byte, cut to the field's width at a character boundary, so that no half
// of a double-byte character is ever stored; the bytes behind the zero stay
// as they were. Numbers are taken from their text with full-width digits
// folded; booleans are true for "真", "是" or a non-zero number. Date-times
// are days since 1899-12-30, read clamped to 0100-01-01 .. 9999-12-31.
// Long texts and byte arrays live in the companion block file.
//
// Thread safety: free of shared state; the BlockFile passed in belongs to
// the caller's table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tables/record_table.h"

namespace autodeliver {

class BlockFile;

// The value of field `f` in the record bytes `rec`; nullopt when a value
// held in the companion file cannot be read. `mapped` lets block reads go
// through a mapping of the companion file (scans).
std::optional<FieldValue> DecodeField(const char* rec, const FieldInfo& f, BlockFile* blocks, bool mapped);

// The text form of a value of a field of `type`: texts as stored, integers
// in decimal, booleans "真"/"假", date-times "YYYY-MM-DD HH:MM:SS", other
// reals in their shortest exact decimal form.
std::string FieldText(const FieldValue& value, std::int32_t type);

// Writes `text` into field `f` of the record bytes `rec`. A long text or
// byte array goes to a new chain in `blocks`; *oldChain gets the chain the
// field held before and *newChain the new one (0 when none). False when
// the chain cannot be written (the record bytes are then unchanged).
bool EncodeField(char* rec, const FieldInfo& f, const std::string& text, BlockFile* blocks,
                 std::int32_t* oldChain, std::int32_t* newChain);

// Bytes of `text` that a fixed-width field of `width` bytes keeps: at most
// `width`, never ending inside a double-byte character.
std::size_t FixedTextLength(std::string_view text, std::int32_t width);

// Days since 1899-12-30 as "YYYY-MM-DD HH:MM:SS", rounded to the second.
std::string FormatOleDate(double days);

// True for the types whose values live in the companion file.
bool IsStoredInBlocks(std::int32_t type);

}  // namespace autodeliver
