// Correspondence selection. Mode 2 resolves conflicts: correspondences that
// share a probe pair or a sample pair (directly or through others) form a
// group, and a group yields at most one correspondence per distinct pair.
#include "matching/selection.h"

#include "engine/result_codes.h"

namespace vorsensor {
namespace {

constexpr int32_t kSmallGroup = 3;
constexpr int32_t kNoStamp = -1;

void SelectAll(MatchWorkspace* w) {
  const int32_t n = w->kept.count();
  for (int32_t k = 0; k < n; ++k) w->selection[k] = w->kept[k];
  w->selection.SetCount(n);
}

// The best of each run of consecutive kept correspondences with one probe pair.
void SelectBestPerProbePair(MatchWorkspace* w) {
  const int32_t n = w->kept.count();
  int32_t count = 0;
  int32_t k = 0;
  while (k < n) {
    const int32_t probePair = w->correspondences[w->kept[k]].probePair;
    int32_t best = k;
    int32_t j = k + 1;
    for (; j < n && w->correspondences[w->kept[j]].probePair == probePair; ++j) {
      if (w->correspondences[w->kept[j]].score > w->correspondences[w->kept[best]].score) best = j;
    }
    w->selection[count++] = w->kept[best];
    k = j;
  }
  w->selection.SetCount(count);
}

// Builds the conflict group that starts at kept position `start` into
// workspace->group (kept positions, group order), marking members taken.
// `probeOpen` / `sampleOpen` count the correspondences not yet taken per
// pair; `pending` sums them over the group's pairs, so when it is 0 no
// further scan could add anything and the scans stop early.
void GatherGroup(MatchWorkspace* w, int32_t start, int32_t groupId) {
  const int32_t n = w->kept.count();
  const Correspondence* c = w->correspondences.data();
  const int32_t* kept = w->kept.data();
  uint8_t* taken = w->taken.data();
  int32_t* probeStamp = w->probeStamps.data();
  int32_t* sampleStamp = w->sampleStamps.data();
  int32_t* probeOpen = w->probeOpen.data();
  int32_t* sampleOpen = w->sampleOpen.data();
  int32_t size = 0;
  int64_t pending = 0;
  auto join = [&](int32_t position) {
    taken[position] = 1;
    w->group[size++] = position;
    const Correspondence& cj = c[kept[position]];
    --probeOpen[cj.probePair];
    if (probeStamp[cj.probePair] == groupId) {
      --pending;
    } else {
      probeStamp[cj.probePair] = groupId;
      pending += probeOpen[cj.probePair];
    }
    --sampleOpen[cj.samplePair];
    if (sampleStamp[cj.samplePair] == groupId) {
      --pending;
    } else {
      sampleStamp[cj.samplePair] = groupId;
      pending += sampleOpen[cj.samplePair];
    }
  };
  join(start);
  // Scan the list again and again; every position before `start` is taken.
  bool added = true;
  while (added && pending > 0 && size < kMaxGroupMembers) {
    added = false;
    for (int32_t j = start + 1; j < n && pending > 0 && size < kMaxGroupMembers; ++j) {
      if (taken[j] != 0) continue;
      const Correspondence& cj = c[kept[j]];
      if (probeStamp[cj.probePair] == groupId || sampleStamp[cj.samplePair] == groupId) {
        join(j);
        added = true;
      }
    }
  }
  w->group.SetCount(size);
}

// How many members have a pair (probe or sample side) that no earlier member has.
int32_t DistinctPairs(const MatchWorkspace* w, bool probeSide) {
  const int32_t size = w->group.count();
  int32_t distinct = 0;
  for (int32_t m = 0; m < size; ++m) {
    const Correspondence& cm = w->correspondences[w->kept[w->group[m]]];
    const int32_t key = probeSide ? cm.probePair : cm.samplePair;
    bool seen = false;
    for (int32_t e = 0; e < m && !seen; ++e) {
      const Correspondence& ce = w->correspondences[w->kept[w->group[e]]];
      seen = (probeSide ? ce.probePair : ce.samplePair) == key;
    }
    if (!seen) ++distinct;
  }
  return distinct;
}

// Appends what the gathered group yields to the selection.
void YieldGroup(MatchWorkspace* w) {
  const int32_t size = w->group.count();
  const Correspondence* c = w->correspondences.data();
  const int32_t* kept = w->kept.data();
  const int32_t* group = w->group.data();
  if (size <= kSmallGroup) {
    int32_t best = 0;
    for (int32_t m = 1; m < size; ++m) {
      if (c[kept[group[m]]].score > c[kept[group[best]]].score) best = m;
    }
    w->selection.Append(kept[group[best]], kCorrespondenceGrowth);
    return;
  }
  const int32_t distinctProbe = DistinctPairs(w, true);
  const int32_t distinctSample = DistinctPairs(w, false);
  const bool probeKey = distinctProbe <= distinctSample;
  const int32_t passes = probeKey ? distinctProbe : distinctSample;
  // Working scores, zeroed as members are used up.
  uint8_t* scores = w->selectionScores.data();
  for (int32_t m = 0; m < size; ++m) scores[m] = static_cast<uint8_t>(c[kept[group[m]]].score);
  auto keyOf = [&](int32_t m) {
    const Correspondence& cm = c[kept[group[m]]];
    return probeKey ? cm.probePair : cm.samplePair;
  };
  for (int32_t pass = 0; pass < passes; ++pass) {
    int32_t choice = -1;
    int32_t key = 0;
    for (int32_t m = 0; m < size; ++m) {
      if (scores[m] == 0) continue;
      if (choice < 0) {
        choice = m;
        key = keyOf(m);
      } else if (keyOf(m) == key && scores[m] > scores[choice]) {
        choice = m;
      }
    }
    if (choice < 0) break;
    for (int32_t m = 0; m < size; ++m) {
      if (keyOf(m) == key) scores[m] = 0;
    }
    scores[choice] = 0;
    w->selection.Append(kept[group[choice]], kCorrespondenceGrowth);
  }
}

int32_t SelectConflictGroups(MatchWorkspace* w, int32_t probePairs, int32_t samplePairs) {
  const int32_t n = w->kept.count();
  if (!w->taken.Reserve(n, kCorrespondenceGrowth) || !w->group.Reserve(kMaxGroupMembers, kMaxGroupMembers) ||
      !w->selectionScores.Reserve(kMaxGroupMembers, kMaxGroupMembers) ||
      !w->probeStamps.Reserve(probePairs, kPairGrowth) || !w->sampleStamps.Reserve(samplePairs, kPairGrowth) ||
      !w->probeOpen.Reserve(probePairs, kPairGrowth) || !w->sampleOpen.Reserve(samplePairs, kPairGrowth)) {
    return kOutOfMemory;
  }
  for (int32_t k = 0; k < n; ++k) {
    w->taken[k] = 0;
    const Correspondence& ck = w->correspondences[w->kept[k]];
    w->probeStamps[ck.probePair] = kNoStamp;
    w->sampleStamps[ck.samplePair] = kNoStamp;
    w->probeOpen[ck.probePair] = 0;
    w->sampleOpen[ck.samplePair] = 0;
  }
  for (int32_t k = 0; k < n; ++k) {
    const Correspondence& ck = w->correspondences[w->kept[k]];
    ++w->probeOpen[ck.probePair];
    ++w->sampleOpen[ck.samplePair];
  }
  for (int32_t k = 0; k < n; ++k) {
    if (w->taken[k] != 0) continue;
    GatherGroup(w, k, k);
    YieldGroup(w);
  }
  return kOk;
}

}  // namespace

int32_t SelectCorrespondences(MatchWorkspace* w, int32_t mode, int32_t probePairs, int32_t samplePairs) {
  w->selection.Clear();
  // The selection is never longer than the kept list.
  if (!w->selection.Reserve(w->kept.count(), kCorrespondenceGrowth)) return kOutOfMemory;
  switch (mode) {
    case 1:
      SelectBestPerProbePair(w);
      return kOk;
    case 2:
      return SelectConflictGroups(w, probePairs, samplePairs);
    default:
      SelectAll(w);
      return kOk;
  }
}

}  // namespace vorsensor
