#pragma once
// cpp-httplib as every server of ours (and of our tests) includes it, so that all of them agree on
// its compile-time settings.
//
// httplib listens with a backlog of 5 by default. A burst of connections larger than that (the
// checker's workers all probing the judge at once) makes the kernel drop the surplus SYNs, and
// each dropped client waits a full one-second retransmit before it gets in. Our own listeners use
// 512; so does httplib here.
#ifndef CPPHTTPLIB_LISTEN_BACKLOG
#define CPPHTTPLIB_LISTEN_BACKLOG 512
#endif
#include <httplib.h>
