#pragma once
// The lifetime of script values: initialise a slot, finalise it (release
// what it holds), and heap values with or without their type record in
// front.
#include <memory>

#include "script/compiler/ps_utils.h"
#include "script/runtime/type_records.h"

namespace script::runtime {

// Writes the initial value of the type: every type starts as zero bytes
// (0, 0.0, empty string, nil array or reference, empty set, empty Variant).
void InitializeValue(void* slot, const TPSTypeRec* type);

// Releases what the value holds and leaves the slot initialised (empty,
// nil, not owning); its bytes are not freed. A Variant whose release fails
// is cleared all the same.
void FinalizeValue(void* slot, const TPSTypeRec* type) noexcept;

// Finalises count consecutive values of the type.
void FinalizeValues(void* first, std::uint32_t count, const TPSTypeRec* type) noexcept;

// Drops one reference of a dynamic array handle of the element type,
// finalising the elements and freeing the block when it was the last.
void ReleaseDynArray(void* data, const TPSTypeRec* element_type) noexcept;

// A heap value of the type, initialised. Throws EPSOutOfMemory.
void* CreateHeapValue(const TPSTypeRec* type);
// Finalises and frees a heap value; nil is ignored.
void DestroyHeapValue(void* value, const TPSTypeRec* type) noexcept;

// A block of the type record's address followed by an initialised value of
// the type (see value_layout.h). Throws EPSOutOfMemory.
void* CreateTypedHeapValue(const TPSTypeRec* type);
void DestroyTypedHeapValue(void* block) noexcept;

// Destroys every typed heap value of the list, last first, then the list.
void FreeTypedHeapValueList(std::unique_ptr<TPSList> list) noexcept;

}  // namespace script::runtime
