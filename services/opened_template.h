#pragma once
// Opening sealed templates for matching with one key object per service call.
#include <cstdint>

#include "services/template_cipher.h"

namespace vorsensor {

// The key object for the template key.
CipherKey MakeTemplateKey();

// Opens the kSealedTemplateBytes bytes at `sealed` into the same number of
// bytes at `record`: the encrypted part decrypted with `key`, the last four
// bytes copied. A null `sealed` gives a zero record, which the record reader
// rejects.
void OpenSealed(const CipherKey& key, const uint8_t* sealed, uint8_t* record);

}  // namespace vorsensor
