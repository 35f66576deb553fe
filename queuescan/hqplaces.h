// The fixed places of the queue filter: its configuration, the scanner's
// socket, its files in /var/tmp and qmail's own queue program.
//
//   HqQueuePlaces places;                      // the installed program's paths
//   places.scanner_socket = "/tmp/t/AvpCtl";   // a test points one elsewhere
//   HqMimeMessage message(copy, name, &conf, places);
//
// The program itself always uses the defaults; only tests change them.
#pragma once

struct HqQueuePlaces {
    const char *config_file = "/tmp/hqmail/hqmail.ini";
    const char *queue_program = "/var/qmail/bin/qmail-queue.orig";
    const char *scanner_socket = "/var/run/AvpCtl";
    const char *temp_template = "/var/tmp//mytmp-XXXXXX";
    const char *decoded_template = "/var/tmp//decoded-XXXXXX";
    const char *cookie_file = "/var/tmp//hqmail.cookie";
    const char *virus_log = "/var/tmp//virus_log.txt";
    // Pause after each failed try to reach the scanner.
    unsigned scan_retry_seconds = 5;
};
