// Correspondence lists of the template merge: moving, reversing, setting
// aside ambiguous entries and uniting the two directions of a pair of sets.
#include "services/correspondence_lists.h"

#include <algorithm>

namespace vorsensor {
namespace {

bool SharesIndex(const CorrespondenceList& a, int32_t i, const CorrespondenceList& b, int32_t j) {
  return a.first[i] == b.first[j] || a.second[i] == b.second[j];
}

}  // namespace

bool AppendCorrespondence(CorrespondenceList* list, uint16_t first, uint16_t second) {
  if (list->count >= kMaxCorrespondences) {
    return false;
  }
  list->first[list->count] = first;
  list->second[list->count] = second;
  ++list->count;
  return true;
}

void RemoveCorrespondence(CorrespondenceList* list, int32_t position) {
  std::copy(list->first + position + 1, list->first + list->count, list->first + position);
  std::copy(list->second + position + 1, list->second + list->count, list->second + position);
  --list->count;
}

void MoveCorrespondence(CorrespondenceList* from, int32_t position, CorrespondenceList* to) {
  // Entries only move between the two lists of one alignment, which together
  // never hold more than one list's worth, so the target always has room.
  AppendCorrespondence(to, from->first[position], from->second[position]);
  RemoveCorrespondence(from, position);
}

void ReverseCorrespondences(const CorrespondenceList& source, CorrespondenceList* target) {
  target->count = source.count;
  std::copy(source.first, source.first + source.count, target->second);
  std::copy(source.second, source.second + source.count, target->first);
}

void SetAsideAmbiguous(CorrespondenceList* list, CorrespondenceList* ambiguous) {
  int32_t i = 0;
  while (i < list->count) {
    bool moved = false;
    int32_t j = i + 1;
    while (j < list->count) {
      if (SharesIndex(*list, j, *list, i)) {
        MoveCorrespondence(list, j, ambiguous);  // position j now holds the next entry
        moved = true;
      } else {
        ++j;
      }
    }
    if (moved) {
      MoveCorrespondence(list, i, ambiguous);
    } else {
      ++i;
    }
  }
  // Entries that share an index only with an entry moved above (a chain).
  for (int32_t k = 0; k < ambiguous->count; ++k) {
    int32_t j = 0;
    while (j < list->count) {
      if (SharesIndex(*list, j, *ambiguous, k)) {
        MoveCorrespondence(list, j, ambiguous);
      } else {
        ++j;
      }
    }
  }
}

void UniteCorrespondences(CorrespondenceList* forward, CorrespondenceList* forwardAmbiguous,
                          CorrespondenceList* backward, CorrespondenceList* backwardAmbiguous) {
  for (int32_t k = 0; k < backward->count; ++k) {
    for (int32_t j = 0; j < forward->count; ++j) {
      if (forward->first[j] == backward->second[k] && forward->second[j] == backward->first[k]) {
        RemoveCorrespondence(forward, j);
        break;
      }
    }
  }
  // The two lists can hold more than one list's worth together; the entries
  // past the end of the united list are left out rather than written past it.
  for (int32_t j = 0; j < forward->count; ++j) {
    if (!AppendCorrespondence(backward, forward->second[j], forward->first[j])) {
      break;
    }
  }
  backwardAmbiguous->count = 0;
  SetAsideAmbiguous(backward, backwardAmbiguous);
  ReverseCorrespondences(*backward, forward);
  ReverseCorrespondences(*backwardAmbiguous, forwardAmbiguous);
}

}  // namespace vorsensor
