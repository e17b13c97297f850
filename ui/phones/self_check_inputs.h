// Reading what the self-check judges from this computer: avahi's advertisements (avahi-browse), the listening
// sockets (/proc/net/tcp), the network addresses (getifaddrs) and the firewall tools' output. Takes seconds
// (avahi-browse waits for the network's answers): run it off the window's thread.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

#include "ui/phones/self_check.h"
#include "ui/session/service_session.h"

namespace quorvane::phones {

/// Runs `program` (looked up on PATH, then in /usr/sbin and /sbin) with `arguments` for at most `timeout_ms`;
/// `started` is false when it is not installed or could not start; a program that overran is killed and has
/// exit status -1.
program_run run_program(const QString& program, const QStringList& arguments, int timeout_ms);

/// The addresses of this computer's network interfaces that are up, IPv4 and IPv6, each with its kind.
std::vector<local_address> this_computer_addresses();

/// Everything the checks read, for `printers` as the service's IPP side (`reach`) offers them.
check_inputs gather_check_inputs(const std::vector<expected_printer>& printers, const ipp_reach& reach);

}  // namespace quorvane::phones
