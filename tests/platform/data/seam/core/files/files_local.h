// Private to core/files and its subfolders.
#pragma once
