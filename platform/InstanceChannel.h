#pragma once

#include <QString>

namespace platform {

/// The name of the local socket over which a starting copy of the program asks the running copy of the
/// same user whether it is converting: one per user, where no other user can take it first. A full path
/// of a socket in the user's private run-time folder where there is one, else a bare name that Qt
/// places in the temporary folder.
QString instanceChannelName();

} // namespace platform
