// Names of the image being downloaded, shared by the camera thread's steps.
#pragma once

// Base name of the next image, without extension; "img" until the first
// queued name is taken. Written by the camera thread before a download, read
// by the data procedure during it, on the same thread.
extern char imageBaseName[128];

// Room for the longest saved name: a base name of 127 characters, a
// renaming counter ("-65535") and an extension. With only 128 bytes, names
// from prefixes of 93 characters and more could not be saved at all.
constexpr int kSavedFileNameSize = 260;

// The name under which the last image was saved, directory and extension
// included; "img" until the first save. Written by the data procedure, read
// by WriteFileToLog, both on the camera thread.
extern char savedFileName[kSavedFileNameSize];
