/* libserialport in the peer benchmarks: its event wait and non-blocking
 * read, doing the host's job (send "g", be told of each reply line, decode
 * it). Same modes and output as ovrin_host.
 *
 *   libserialport_host PORT stream N | quiet N | roundtrip N | idle SECONDS */
#include <libserialport.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static long long Clock(clockid_t clock) {
  struct timespec now;
  clock_gettime(clock, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}
static long long NowNs(void) { return Clock(CLOCK_MONOTONIC); }

static struct sp_port* gPort;
static struct sp_event_set* gEvents;
static char gLine[256];
static size_t gFill;

/* Waits up to timeoutMs for one complete line; returns its sequence or -1. */
static long NextLine(unsigned timeoutMs) {
  for (;;) {
    char* end = memchr(gLine, '\n', gFill);
    if (end != NULL && end > gLine && end[-1] == '\r') {
      long sequence = 0;
      size_t used = (size_t)(end - gLine) + 1;
      if (gFill >= 15 && strncmp(gLine, "12..", 4) == 0) sequence = strtol(gLine + 7, NULL, 10);
      memmove(gLine, gLine + used, gFill - used);
      gFill -= used;
      return sequence;
    }
    if (sp_wait(gEvents, timeoutMs) != SP_OK) return -1;
    {
      int n = sp_nonblocking_read(gPort, gLine + gFill, sizeof gLine - gFill);
      if (n <= 0) return -1; /* the wait ran out */
      gFill += (size_t)n;
    }
  }
}

int main(int argc, char** argv) {
  long count, i, done = 0;
  long long cpuStart = 0, cpuEnd = 0;
  long long* values;
  long* sequences;
  if (argc != 4) return 2;
  count = atol(argv[3]);
  values = calloc((size_t)count + 1, sizeof *values);
  sequences = calloc((size_t)count + 1, sizeof *sequences);
  if (sp_get_port_by_name(argv[1], &gPort) != SP_OK || sp_open(gPort, SP_MODE_READ_WRITE) != SP_OK) {
    fprintf(stderr, "libserialport_host: cannot open %s\n", argv[1]);
    return 1;
  }
  sp_set_baudrate(gPort, 9600);
  sp_set_bits(gPort, 8);
  sp_set_parity(gPort, SP_PARITY_NONE);
  sp_set_stopbits(gPort, 1);
  sp_new_event_set(&gEvents);
  sp_add_port_events(gEvents, gPort, SP_EVENT_RX_READY);
  if (strcmp(argv[2], "idle") == 0) {
    /* Listening means waiting for input; nothing comes. */
    long long until = NowNs() + count * 1000000000LL;
    while (NowNs() < until) sp_wait(gEvents, (unsigned)((until - NowNs()) / 1000000) + 1);
  } else if (strcmp(argv[2], "stream") == 0 || strcmp(argv[2], "quiet") == 0) {
    cpuStart = Clock(CLOCK_PROCESS_CPUTIME_ID);
    sp_blocking_write(gPort, "g\r\n", 3, 1000);
    for (; done < count; ++done) {
      long sequence = NextLine(2000);
      if (sequence < 0) break;
      sequences[done] = sequence;
      values[done] = NowNs();
    }
    cpuEnd = Clock(CLOCK_PROCESS_CPUTIME_ID);
  } else {
    for (i = 0; i < count; ++i, ++done) {
      long long start = NowNs();
      sp_blocking_write(gPort, "g\r\n", 3, 1000);
      if (NextLine(2000) < 0) break;
      sequences[done] = i;
      values[done] = NowNs() - start;
    }
  }
  sp_close(gPort);
  if (strcmp(argv[2], "quiet") == 0) {
    printf("# lines %ld\n", done);
  } else {
    for (i = 0; i < done; ++i) printf("%ld %lld\n", sequences[i], values[i]);
  }
  printf("# cpu %lld\n", cpuEnd - cpuStart);
  return 0;
}
