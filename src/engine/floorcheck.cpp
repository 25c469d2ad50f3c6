// Built from every object of the engine against Qt Core and Network alone: it links only
// while no part of the engine needs anything from Qt Gui or Widgets. It is never run.
int main()
{
    return 0;
}
