#include "reg_action.h"

#include <QThread>

#include <cstdio>
#include <vector>

#include "finger_store.h"
#include "service_log.h"
#include "zylscan/zylfpscan.h"
#include "zylscan/zylfpscan_feature.h"
#include "zylscan/zylfpscan_image.h"

using vyx::logDebug;

namespace {

constexpr int kTemplatesPerFinger = 3;

}  // namespace

CRegAction::CRegAction(void *handle, QObject *parent) : DriverThread(parent) { m_handle = handle; }

void CRegAction::stop() {
  logDebug("vyx-fingerprint-driver    stop");
  requestStop();
}

void CRegAction::RecvStopRegCmd(int deviceIndex) {
  logDebug("vyx-fingerprint-driver    RecvStopRegCmd   deviceIndex: %d", deviceIndex);
  requestStop();
}

void CRegAction::RecvRegCmd(int deviceIndex, QString pUid, int id, QString featureDir, QString featureFile) {
  logDebug(
      "vyx-fingerprint-driver    RecvRegCmd   deviceIndex: %d   pUid: %s   id: %d   featureDir: %s   "
      "featureFile: %s",
      deviceIndex, qPrintable(pUid), id, qPrintable(featureDir), qPrintable(featureFile));
  // The stop flag is left as it is: a stop asked for before this command
  // began must still end it.
  m_deviceIndex = deviceIndex;
  const Result result = enrollFinger(pUid, featureDir, featureFile);
  logDebug("vyx-fingerprint-driver    RecvRegCmd   _end  pUid: %s   ret: %d   retval: %d", qPrintable(pUid),
           result.code, result.subCode);
  emit SendRegResult(pUid, result.code, result.subCode);
  commandFinished();
}

CRegAction::Result CRegAction::enrollFinger(const QString &pUid, const QString &featureDir,
                                            const QString &featureFile) {
  const long start = currentSeconds();
  logDebug("vyx-fingerprint-driver    RecvRegCmd   startTime: %ld", start);
  emit SendRegStatus(pUid, 0);
  if (!m_handle) {
    logDebug("vyx-fingerprint-driver    RecvRegCmd   !m_handle");
    return {1, ZYLFPSCAN_ERR_NOT_INIT};
  }
  int width = 0, height = 0, resolution = 0;
  const int sizeRet = ZYLFPSCAN_GetImageInfo(m_handle, &width, &height, &resolution);
  logDebug("vyx-fingerprint-driver    RecvRegCmd   FPDEV_GetImgSize   ret: %d    width: %d    height: %d", sizeRet,
           width, height);
  if (sizeRet != 0) {
    logDebug("vyx-fingerprint-driver    RecvRegCmd   FPDEV_GetImgSize   ret != 0){ ");
    return {sizeRet, 1};
  }
  if (width <= 0 || height <= 0) return {1, 1};
  std::vector<unsigned char> image(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  if (stopRequested()) return {1, -1};

  std::vector<unsigned char> fileBuffer(vyx::kFingerFileSize, 0);
  std::vector<unsigned char> feature(vyx::kTemplateSlotSize, 0);
  int taken = 0;
  const Result stopped{1, 1};
  // True (and logged) when a stop was asked for.
  const auto stopSeen = [this] {
    if (!stopRequested()) return false;
    logDebug("vyx-fingerprint-driver    RecvRegCmd   m_stop ");
    return true;
  };

  for (;;) {
    if (currentSeconds() - start > kTimeLimitSeconds) {
      logDebug("vyx-fingerprint-driver    RecvRegCmd   timeout");
      return {1, 1};
    }
    if (stopSeen()) return stopped;

    std::fill(image.begin(), image.end(), 0);
    const int captureRet = ZYLFPSCAN_CaptureRawData(m_handle, 300, image.data());
    logDebug("vyx-fingerprint-driver    RecvRegCmd   FPDEV_GetFPRawImage   ret: %d   rawDataLen: %d", captureRet,
             width * height);
    int quality = 0;
    // A failed capture leaves no image worth rating: the pass only pauses
    // like a poor image does.
    const int qualityRet =
        captureRet == 0 ? ZYLFPSCAN_ImgQuality(width, height, image.data(), &quality) : captureRet;
    if (stopSeen()) return stopped;
    QThread::msleep(100);
    if (stopSeen()) return stopped;

    if (qualityRet == 0 && quality >= kMinQuality) {
      const int extractRet = extractFeature(feature.data());
      logDebug("vyx-fingerprint-driver    RecvRegCmd   ZYLFPSCAN_ExtractFeature   ret: %d ", extractRet);
      if (stopSeen()) return stopped;
      QThread::msleep(10);
      if (stopSeen()) return stopped;

      // A template that failed to come out is never compared or stored.
      if (extractRet == 0) {
        logDebug("vyx-fingerprint-driver    RecvRegCmd   verifyByTemp   featureDir: %s", qPrintable(featureDir));
        const int r = verifyByTemp(feature.data(), featureDir);
        logDebug("vyx-fingerprint-driver    RecvRegCmd   verifyByTemp   featureDir: %s   ret: %d",
                 qPrintable(featureDir), r);
        std::printf("RecvRegCmd   verifyByTemp   featureDir: %s   ret: %d\n", qPrintable(featureDir), r);
        std::fflush(stdout);
        if (r == 0) {
          if (stopSeen()) return stopped;
          return {1, 2};
        }
        if (stopSeen()) return stopped;
        std::copy(feature.begin(), feature.end(), fileBuffer.begin() + taken * vyx::kTemplateSlotSize);
        QThread::sleep(1);
        ++taken;
        emit SendRegStatus(pUid, 30 * taken);
        if (stopSeen()) return stopped;
      }
    }

    QThread::msleep(10);
    if (stopRequested()) return stopped;
    if (taken == kTemplatesPerFinger) {
      const int s = vyx::saveFeatureData(fileBuffer.data(), vyx::kFingerFileSize, featureDir, featureFile);
      logDebug("vyx-fingerprint-driver    RecvRegCmd   saveFeatureData   ret: %d", s);
      if (s != 0) {
        logDebug("vyx-fingerprint-driver    RecvRegCmd   saveFeatureData   存储模板失败");
        // The framework reads code 2 as progress and knows 1 as failure:
        // every save failure is reported as 1 (the log above has the cause).
        return {1, 1};
      }
      emit SendRegStatus(pUid, 100);
      return {0, 0};
    }
  }
}
