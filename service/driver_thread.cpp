#include "driver_thread.h"

#include <sys/time.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "finger_store.h"
#include "service_log.h"
#include "zylscan/zylfpscan_feature.h"

using vyx::logDebug;

void DriverThread::requestStop() {
  m_deviceIndex = -1;
  m_stop = 1;
}

void DriverThread::commandFinished() {
  std::lock_guard lock(m_finishMutex);
  m_finished = true;
  m_finishedChanged.notify_all();
}

void DriverThread::waitUntilFinished() {
  std::unique_lock lock(m_finishMutex);
  m_finishedChanged.wait(lock, [this] { return m_finished; });
}

long DriverThread::currentSeconds() {
  timeval now{};
  gettimeofday(&now, nullptr);
  return now.tv_sec;
}

int DriverThread::extractFeature(unsigned char *feature) {
  std::printf("ZYLFPSCAN_ExtractFeature\n");
  std::fill(feature, feature + vyx::kTemplateSlotSize, 0);
  const int ret = ZYLFPSCAN_ExtractFeature(m_handle, 0, feature);
  // Standard output ends up in the system journal, so the template itself
  // (biometric data) is never printed: only how many bytes it takes, counted
  // up to its last non-zero byte in the zeroed buffer.
  const unsigned char *end = feature + ZYLFPSCAN_FEATURE_SIZE;
  while (end != feature && end[-1] == 0) --end;
  std::printf("ZYLFPSCAN_ExtractFeature   featurebuf: %d bytes\n", static_cast<int>(end - feature));
  std::printf("ZYLFPSCAN_ExtractFeature   ret: %d\n", ret);
  std::fflush(stdout);
  return ret;
}

int DriverThread::verifyByTemp(const unsigned char *feature, const QString &featureDir) {
  logDebug("vyx-fingerprint-driver     verifyByTemp");
  if (!m_handle) return 1;
  std::vector<unsigned char> buffer;
  for (const vyx::FingerFile &file : vyx::listFingerFiles(featureDir)) {
    logDebug("vyx-fingerprint-driver     verifyByTemp  featureFile: %s", qPrintable(file.path));
    // A file that cannot be read counts as no match.
    if (!vyx::readFingerFile(file.path, buffer)) continue;
    int score = 0;
    int match = 0;
    const int ret = ZYLFPSCAN_VerifyExt(m_handle, 5, feature, 3, buffer.data(), &score, &match);
    std::printf("verifyByTemp   ZYLFPSCAN_VerifyExt   ret: %d   nSimilarity: %d   match: %d\n", ret, score, match);
    std::fflush(stdout);
    logDebug("vyx-fingerprint-driver     verifyByTemp  ZYLFPSCAN_VerifyExt nSimilarity: %d   match: %d", score, match);
    if (ret == 0 && match == 0) return 0;
  }
  return 1;
}
