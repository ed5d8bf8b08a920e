/* A program of another project that uses the installed libzylscan: it asks
 * the library for the text of one status code and prints it. */
#include <stdio.h>

#include <zylscan/zylfpscan_status.h>

int main(void) {
  char text[ZYLFPSCAN_ERROR_TEXT_SIZE];
  int rc = ZYLFPSCAN_GetErrorInfo(ZYLFPSCAN_ERR_NOT_INIT, text);
  printf("%d %s\n", rc, text);
  return rc == 0 ? 0 : 1;
}
