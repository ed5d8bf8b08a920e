#include "auth_action.h"

#include <QDir>
#include <QThread>

#include <cstdio>
#include <vector>

#include "finger_store.h"
#include "service_log.h"
#include "zylscan/zylfpscan.h"
#include "zylscan/zylfpscan_feature.h"
#include "zylscan/zylfpscan_image.h"

using vyx::logDebug;

CAuthAction::CAuthAction(void *handle, QObject *parent) : DriverThread(parent) { m_handle = handle; }

void CAuthAction::stop() { requestStop(); }

void CAuthAction::RecvStopAuthCmd(int) { requestStop(); }

void CAuthAction::RecvAuthCmd(int deviceIndex, QString pUid, QString featureDir, int tryCount) {
  logDebug(
      "vyx-fingerprint-driver    RecvAuthCmd   deviceIndex: %d   pUid: %s    featureDir: %s    "
      "tryCount: %d",
      deviceIndex, qPrintable(pUid), qPrintable(featureDir), tryCount);
  // The stop flag is left as it is: a stop asked for before this command
  // began must still end it.
  m_deviceIndex = deviceIndex;
  const long start = currentSeconds();
  int code = 1;
  int subCode = 1;
  if (!m_handle) {
    logDebug("vyx-fingerprint-driver    RecvAuthCmd   !m_handle");
  } else if (stopRequested()) {
    subCode = -1;
  } else {
    const int r = verifyFingerprint(pUid, featureDir, start);
    if (r == 0) {
      logDebug("vyx-fingerprint-driver    RecvAuthCmd   retval == FP_PAM_SUCCESS");
      code = 0;
    }
    subCode = r;
  }
  emit SendAuthResult(pUid, code, subCode);
  commandFinished();
}

int CAuthAction::verifyFingerprint(const QString &pUid, const QString &featureDir, long startTime) {
  logDebug("vyx-fingerprint-driver    verifyFingerprint   pUid: %s   featureDir: %s   startTime: %ld",
           qPrintable(pUid), qPrintable(featureDir), startTime);
  if (!QDir(featureDir).exists()) {
    logDebug("vyx-fingerprint-driver    verifyFingerprint   !dir.exists()");
    return 1;
  }
  if (!m_handle) return 1;
  int width = 0, height = 0, resolution = 0;
  const int sizeRet = ZYLFPSCAN_GetImageInfo(m_handle, &width, &height, &resolution);
  logDebug("vyx-fingerprint-driver    verifyFingerprint   FPDEV_GetImgSize   ret: %d    width: %d    height: %d",
           sizeRet, width, height);
  if (sizeRet != 0) {
    logDebug("vyx-fingerprint-driver    verifyFingerprint   FPDEV_GetImgSize   ret != 0){ ");
    return 1;
  }
  if (width <= 0 || height <= 0) return 1;
  std::vector<unsigned char> image(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  std::vector<unsigned char> feature(vyx::kTemplateSlotSize, 0);
  const auto stopSeen = [this] {
    if (!stopRequested()) return false;
    logDebug("vyx-fingerprint-driver    verifyFingerprint   m_stop ");
    return true;
  };

  for (;;) {
    if (currentSeconds() - startTime > kTimeLimitSeconds) {
      logDebug("vyx-fingerprint-driver    verifyFingerprint   timeout");
      return 1;
    }
    if (stopSeen()) return 1;

    std::fill(image.begin(), image.end(), 0);
    const int captureRet = ZYLFPSCAN_CaptureRawData(m_handle, 300, image.data());
    if (stopRequested()) return 1;
    if (captureRet != 0) {
      logDebug("vyx-fingerprint-driver    verifyFingerprint   FPDEV_GetFPRawImage   ret: %d   continue", captureRet);
      continue;
    }
    int quality = 0;
    const int qualityRet = ZYLFPSCAN_ImgQuality(width, height, image.data(), &quality);
    logDebug("vyx-fingerprint-driver    verifyFingerprint   FPDEV_AlgImgQuality   ret: %d   quality:%d", qualityRet,
             quality);
    if (stopRequested()) return 1;
    QThread::msleep(100);
    if (stopRequested()) return 1;
    if (qualityRet != 0 || quality < kMinQuality) continue;

    const int extractRet = extractFeature(feature.data());
    logDebug("vyx-fingerprint-driver    verifyFingerprint   ZYLFPSCAN_ExtractFeature   ret: %d ", extractRet);
    if (stopSeen()) return 1;
    QThread::msleep(10);
    if (stopSeen()) return 1;
    // A capture whose template failed to come out is not compared: the next
    // capture is taken instead.
    if (extractRet != 0) continue;

    logDebug("vyx-fingerprint-driver    verifyFingerprint   verifyByTemp   featureDir: %s", qPrintable(featureDir));
    const int r = verifyByTemp(feature.data(), featureDir);
    logDebug("vyx-fingerprint-driver    verifyFingerprint   verifyByTemp   featureDir: %s   ret: %d",
             qPrintable(featureDir), r);
    std::printf("verifyFingerprint   verifyByTemp   featureDir: %s   ret: %d\n", qPrintable(featureDir), r);
    std::fflush(stdout);
    return r;
  }
}
