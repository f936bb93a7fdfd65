#pragma once
// Counts the drawing objects this process holds. GetGuiResources answers 0 under
// Wine, but GetObjectType recognises every live handle, so a walk over all handle
// values gives the true count.
int CountGdiObjects();
