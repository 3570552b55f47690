#pragma once

/** The text of the help window: the steps before and during an update, and a troubleshooting hint. */
extern const char* const helpText;
