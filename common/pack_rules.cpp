#include "pack_rules.h"

#include "dates.h"

PackRules GetPackRules(const MessageRecord &r, int doDelete) {
  PackRules rules;
  rules.doDelete = doDelete != 0;
  rules.age = r.KeepDays > 0;
  rules.receipt = r.KeepRecvDays > 0;
  if (rules.age) rules.ageLimit = static_cast<uint32_t>(TodayUnixAddDays(-int32_t(r.KeepDays)));
  if (rules.receipt) rules.receiptLimit = static_cast<uint32_t>(TodayUnixAddDays(-int32_t(r.KeepRecvDays)));
  rules.maxMsgs = r.MaxMsgs;
  rules.maxKilobytes = r.MaxKilobytes;
  return rules;
}

PackCause HeaderCause(const MessageHeader &h, const PackRules &rules, bool &exempt) {
  exempt = false;
  if (h.WhoFrom[0] > kMaxWhoLength || h.WhoTo[0] > kMaxWhoLength || h.Subject[0] > kMaxSubjectLength)
    return kRemoveCorrupt;
  if (h.Attribute & kMsgDeleted) return kRemoveDeleted;
  if (h.Attribute & kMsgExempt) {
    exempt = true;
    return kKeep;
  }
  if (!rules.doDelete) return kKeep;
  if (rules.age && CompareDosUnixDate(h.DateWritten, rules.ageLimit) < 0) return kRemoveAge;
  if (rules.receipt && (h.Attribute & kMsgReceived) && CompareDosUnixDate(h.DateReceived, rules.receiptLimit) < 0)
    return kRemoveReceipt;
  return kKeep;
}
