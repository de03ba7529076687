#pragma once
// Priorities for the player's threads where the system allows them (root, a real-time
// limit such as the audio group's, the desktop's real-time broker rtkit, or a nice
// limit); elsewhere they stay as they are.
namespace clipwren::player {

enum class ThreadRole {
    Output,  // hands periods to the sound server
    Decode,  // fills the decode-ahead, in bursts
};

// Raises the calling thread's priority for its role, as far as the system allows.
void raiseThreadPriority(ThreadRole role);

}  // namespace clipwren::player
