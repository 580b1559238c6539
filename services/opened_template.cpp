// Opening sealed templates with a key object built once per service call.
#include "services/opened_template.h"

#include <algorithm>

namespace vorsensor {

CipherKey MakeTemplateKey() {
  CipherKey key;
  SetCipherKey(&key, kTemplateKeyBits, kTemplateKey);
  return key;
}

void OpenSealed(const CipherKey& key, const uint8_t* sealed, uint8_t* record) {
  std::fill(record, record + kSealedTemplateBytes, uint8_t{0});
  if (sealed == nullptr) {
    return;
  }
  OpenTemplate(&key, sealed, kSealedPartBytes, record);
  std::copy(sealed + kSealedPartBytes, sealed + kSealedTemplateBytes, record + kSealedPartBytes);
}

}  // namespace vorsensor
