#include "driver_thread.h"

#include <sys/time.h>

void DriverThread::requestStop() {
  m_deviceIndex = -1;
  m_stop = 1;
}

long DriverThread::currentSeconds() {
  timeval now{};
  gettimeofday(&now, nullptr);
  return now.tv_sec;
}
