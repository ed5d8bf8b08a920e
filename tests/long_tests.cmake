# Read by CTest after the discovered tests. A parallel run of the suite
# starts the longest tests first, so that none of them begins last and runs
# on alone while the other cores stand idle (in a fresh build CTest has no
# timings of its own yet). Under the sanitizers the first one takes about a
# minute.
foreach(t GridPrints.EveryCropOfTheSharedSetsIsExtractedAndCompared KeypointStage.EverySharedCropGivesABlob
          SessionVerifyPrints.TheLearnedScoreConfirmsOrOverrulesTheMatch)
  set_tests_properties(${t} PROPERTIES COST 1000)
endforeach()
